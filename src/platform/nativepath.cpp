// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/nativepath.h"

#include <QChar>

namespace {

constexpr char16_t escapeBase = 0xDC00;

bool isEscapedByte(char16_t unit)
{
    return unit >= escapeBase + 0x80 && unit <= escapeBase + 0xFF;
}

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence at the start of `bytes`, or 0.
// Overlong forms, surrogates and code points past U+10FFFF are not valid.
qsizetype validSequenceLength(QByteArrayView bytes)
{
    const auto lead = static_cast<unsigned char>(bytes.front());
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    char32_t lowest = 0;
    char32_t codePoint = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, lowest = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, lowest = 0x800, codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, lowest = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (bytes.size() < length)
        return 0;
    for (qsizetype i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (!isContinuation(byte))
            return 0;
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    return codePoint < lowest || surrogate || codePoint > 0x10FFFF ? 0 : length;
}

} // namespace

QString pathFromNative(QByteArrayView name)
{
    QString path;
    path.reserve(name.size());
    while (!name.empty()) {
        qsizetype valid = 0;
        while (valid < name.size()) {
            const qsizetype length = validSequenceLength(name.sliced(valid));
            if (length == 0)
                break;
            valid += length;
        }
        path += QString::fromUtf8(name.first(valid));
        name = name.sliced(valid);
        if (!name.empty()) {
            path += QChar(escapeBase + static_cast<unsigned char>(name.front()));
            name = name.sliced(1);
        }
    }
    return path;
}

std::string nativeFromPath(const QString& path)
{
    std::string name;
    name.reserve(static_cast<std::size_t>(path.size()));
    QStringView rest(path);
    while (!rest.empty()) {
        qsizetype text = 0;
        // The low half of a real surrogate pair is text, not an escaped byte.
        while (text < rest.size() && !(isEscapedByte(rest[text].unicode()) && (text == 0 || !rest[text - 1].isHighSurrogate())))
            ++text;
        name += rest.first(text).toUtf8().toStdString();
        rest = rest.sliced(text);
        if (!rest.empty()) {
            name += static_cast<char>(rest.front().unicode() - escapeBase);
            rest = rest.sliced(1);
        }
    }
    return name;
}
