#pragma once

// Reads a multipart/form-data body the way a server would, for the tests that
// stand in for the transcription service.

#include "testserver.h"

#include <QByteArray>
#include <QList>

struct ReceivedPart
{
    QByteArray name;
    QByteArray fileName;     // empty for a plain field
    QByteArray contentType;  // empty when the part names none
    QByteArray data;
};

inline QList<ReceivedPart> partsOf(const RecordedRequest &request)
{
    QList<ReceivedPart> parts;
    const QByteArray type = request.header("Content-Type");
    const qsizetype at = type.indexOf("boundary=");
    if (!type.startsWith("multipart/form-data") || at < 0)
        return parts;
    QByteArray boundary = type.mid(at + 9);
    if (boundary.startsWith('"'))
        boundary = boundary.mid(1, boundary.size() - 2);
    const QByteArray delimiter = "--" + boundary;
    const QByteArray &body = request.body;
    qsizetype pos = body.indexOf(delimiter);
    while (pos >= 0) {
        pos += delimiter.size();
        if (body.mid(pos, 2) == "--")
            break;
        pos += 2;  // CR LF
        const qsizetype headEnd = body.indexOf("\r\n\r\n", pos);
        const qsizetype next = body.indexOf("\r\n" + delimiter, headEnd);
        if (headEnd < 0 || next < 0)
            break;
        ReceivedPart part;
        for (const QByteArray &line : body.mid(pos, headEnd - pos).split('\n')) {
            const QByteArray l = line.trimmed();
            if (l.toLower().startsWith("content-type:"))
                part.contentType = l.mid(13).trimmed();
            if (!l.toLower().startsWith("content-disposition:"))
                continue;
            for (const QByteArray &param : l.split(';')) {
                const QByteArray p = param.trimmed();
                if (p.startsWith("name="))
                    part.name = p.mid(6, p.size() - 7);
                else if (p.startsWith("filename="))
                    part.fileName = p.mid(10, p.size() - 11);
            }
        }
        part.data = body.mid(headEnd + 4, next - headEnd - 4);
        parts.append(part);
        pos = next + 2;
    }
    return parts;
}
