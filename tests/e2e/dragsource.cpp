// SPDX-License-Identifier: GPL-3.0-or-later
// Stands in for a file manager: pressing and dragging its label starts a
// drag of the files named on the command line, offering copy and move as a
// file manager does. `--text T` drags a text instead, `--link URL` a web link.
// Prints the action the drag ended with.
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
    DragSource(QList<QUrl> urls, QString text)
        : QLabel(QStringLiteral("drag me")), urls_(std::move(urls)), text_(std::move(text))
    {
    }

protected:
    void mousePressEvent(QMouseEvent* event) override { pressedAt_ = event->position().toPoint(); }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (dragged_ || (event->position().toPoint() - pressedAt_).manhattanLength() < QApplication::startDragDistance())
            return;
        dragged_ = true;
        auto* drag = new QDrag(this);
        auto* data = new QMimeData;
        if (!urls_.isEmpty())
            data->setUrls(urls_);
        if (!text_.isEmpty())
            data->setText(text_);
        drag->setMimeData(data);
        const Qt::DropAction result = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
        const char* name = result == Qt::CopyAction ? "copy" : result == Qt::MoveAction ? "move" : result == Qt::LinkAction ? "link" : "ignore";
        std::printf("%s\n", name);
        std::fflush(stdout);
    }

private:
    QList<QUrl> urls_;
    QString text_;
    QPoint pressedAt_;
    bool dragged_ = false;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QList<QUrl> urls;
    QString text;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--text" && i + 1 < argc) {
            text = QString::fromLocal8Bit(argv[++i]);
        } else if (argument == "--link" && i + 1 < argc) {
            urls.append(QUrl::fromEncoded(argv[++i]));
        } else {
            // Percent-encoded from the name's bytes, as a file manager sends
            // it, so names that are not UTF-8 arrive intact.
            urls.append(QUrl::fromEncoded("file://" + argument.toPercentEncoding("/")));
        }
    }
    DragSource source(urls, text);
    source.setWindowTitle(QStringLiteral("drag source"));
    source.setGeometry(600, 300, 200, 100);
    source.show();
    return QApplication::exec();
}
