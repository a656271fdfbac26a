// Stands in for a file manager: pressing and dragging its label starts a
// drag of the files named on the command line, offering copy and move as a
// file manager does. Prints the action the drag ended with.
#include <cstdio>

#include <QApplication>
#include <QDrag>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

namespace {

class DragSource : public QLabel {
public:
    explicit DragSource(QList<QUrl> urls) : QLabel(QStringLiteral("drag me")), urls_(std::move(urls)) {}

protected:
    void mousePressEvent(QMouseEvent* event) override { pressedAt_ = event->position().toPoint(); }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (dragged_ || (event->position().toPoint() - pressedAt_).manhattanLength() < QApplication::startDragDistance())
            return;
        dragged_ = true;
        auto* drag = new QDrag(this);
        auto* data = new QMimeData;
        data->setUrls(urls_);
        drag->setMimeData(data);
        const Qt::DropAction result = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
        const char* name = result == Qt::CopyAction ? "copy" : result == Qt::MoveAction ? "move" : result == Qt::LinkAction ? "link" : "ignore";
        std::printf("%s\n", name);
        std::fflush(stdout);
    }

private:
    QList<QUrl> urls_;
    QPoint pressedAt_;
    bool dragged_ = false;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QList<QUrl> urls;
    for (int i = 1; i < argc; ++i)
        urls.append(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i])));
    DragSource source(urls);
    source.setWindowTitle(QStringLiteral("drag source"));
    source.setGeometry(600, 300, 200, 100);
    source.show();
    return QApplication::exec();
}
