#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

class QIODevice;

// A pull reader for the large, plain XML of a worksheet (one element per cell, a million
// cells): it works on the UTF-8 bytes and decodes only the texts that are asked for, where
// QXmlStreamReader converts everything and takes seconds. It checks what it must to stay
// inside its buffer, not whether tags match; names are compared without their prefix.
class XmlScan
{
public:
    // Reads device in chunks; the device must outlive the scanner.
    explicit XmlScan(QIODevice *device);

    enum Token
    {
        StartElement,
        EndElement, // also right after the start of an empty element (<c/>)
        Text,
        End,
        Error,
    };
    Token next();

    // The local name of the current element.
    QByteArrayView name() const { return m_name; }
    bool isStart(const char *localName) const
    {
        return m_token == StartElement && m_name == QByteArrayView(localName);
    }
    bool isEnd(const char *localName) const
    {
        return m_token == EndElement && m_name == QByteArrayView(localName);
    }
    // An attribute of the current start element by its local name, undecoded (names,
    // numbers and cell references have nothing to decode); empty when missing.
    QByteArrayView attribute(const char *localName) const;
    // The text of the current Text token, entities decoded.
    QString text() const;
    // Everything up to the end of the current element (the start has just been read).
    bool skipElement();
    QString errorString() const { return m_error; }

private:
    bool more();
    // Finds needle at or after from; false when the file ends first.
    bool find(QByteArrayView needle, qsizetype from, qsizetype *at);
    Token fail(const QString &why);
    Token startTag();

    QIODevice *m_device;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_eof = false;
    bool m_started = false;
    Token m_token = Text; // nothing read yet
    bool m_pendingEnd = false;
    QByteArrayView m_name;
    QByteArrayView m_text;
    bool m_rawText = false; // CDATA: no entities
    struct Attribute
    {
        QByteArrayView name;
        QByteArrayView value;
    };
    std::vector<Attribute> m_attributes;
    QString m_error;
};

// Decodes XML character data (UTF-8 with &amp; &lt; &gt; &quot; &apos; &#n; &#xh;).
QString xmlText(QByteArrayView raw);
