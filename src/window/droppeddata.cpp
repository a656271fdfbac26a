// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/droppeddata.h"

#include <algorithm>
#include <array>

#include <QMimeData>
#include <QUrl>

#include "platform/nativepath.h"

namespace {

struct FormatType {
    int format;
    const char* mimeType;
};

// The standard clipboard formats a drag may carry, by number.
constexpr std::array<FormatType, 5> standardFormats{{
    {1, "text/plain"},
    {2, "image/bmp"},
    {8, "image/bmp"},
    {13, "text/plain;charset=utf-8"},
    {15, "text/uri-list"},
}};

// The local file a URL names. The path is decoded from its percent-encoded
// bytes, so names that are not UTF-8 are kept (QUrl::toLocalFile would
// replace their bytes).
QString localFile(const QUrl& url)
{
    const QString path = pathFromNative(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
    return url.host().isEmpty() ? path : QStringLiteral("//") + url.host() + path;
}

} // namespace

QString mimeTypeForClipboardFormat(int clipboardFormat)
{
    const auto* known = std::find_if(standardFormats.begin(), standardFormats.end(),
                                     [&](const FormatType& f) { return f.format == clipboardFormat; });
    if (known != standardFormats.end())
        return QLatin1String(known->mimeType);
    return QStringLiteral("application/x-clipboard-format-%1").arg(clipboardFormat);
}

std::optional<Qt::DropAction> safeDropAction(Qt::DropActions offered)
{
    if (offered.testFlag(Qt::CopyAction))
        return Qt::CopyAction;
    if (offered.testFlag(Qt::LinkAction))
        return Qt::LinkAction;
    return std::nullopt;
}

bool DroppedData::carriesLocalFile(const QMimeData& data)
{
    const QList<QUrl> urls = data.urls();
    return std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

DroppedData DroppedData::from(const QMimeData& data)
{
    DroppedData dropped;
    // Only local files count; a web link is never fetched or opened.
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile())
            dropped.files_.append(localFile(url));
    }
    dropped.formats_ = data.formats();
    return dropped;
}

QString DroppedData::file(int index) const
{
    return index >= 1 && index <= fileCount() ? files_.at(index - 1) : QString();
}

bool DroppedData::offersFormat(int clipboardFormat) const
{
    return formats_.contains(mimeTypeForClipboardFormat(clipboardFormat));
}
