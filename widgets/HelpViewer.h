#pragma once

#include <QList>
#include <QString>
#include <QTextBrowser>
#include <QWidget>

#include <memory>

class ChmArchive;
class QAction;
class QLineEdit;
class QListWidget;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

// One entry of a sitemap file (.hhc contents or .hhk index): its title, the page it names
// (may be empty for a heading) and its nesting depth (0 = top level).
struct SitemapEntry
{
    QString name;
    QString local;
    int depth = 0;
    bool operator==(const SitemapEntry &) const = default;
};

// Reads the entries of a sitemap in document order. Tolerates missing closing tags and
// unknown elements; entity references in names are resolved.
QList<SitemapEntry> parseSitemap(const QString &html);

// Decodes an HTML page by its declared character set; UTF-8 when it declares none and
// the bytes are valid UTF-8, Latin-1 otherwise.
QString decodeHelpPage(const QByteArray &data);

// Text browser whose pages and images come out of the .chm archive ("chm:/page.htm").
class THelpBrowser : public QTextBrowser
{
    Q_OBJECT
public:
    explicit THelpBrowser(const ChmArchive &archive, QWidget *parent = nullptr);
    QVariant loadResource(int type, const QUrl &name) override;

private:
    const ChmArchive &m_archive;
};

// Our help window: contents tree and keyword index on the left, the page on the right.
class THelpViewer : public QWidget
{
    Q_OBJECT
public:
    explicit THelpViewer(std::unique_ptr<ChmArchive> archive, QWidget *parent = nullptr);
    ~THelpViewer() override;

    QString helpFile() const;
    const ChmArchive &archive() const { return *m_archive; }

    // Contents tab with the first topic (the archive's default topic, else the first entry).
    void showContents();
    // A topic of the archive ("page.htm", "/page.htm#anchor"); false when it does not exist.
    bool showTopic(const QString &topic);
    // Index tab with the keyword selected; its page when a keyword starts with it, else the
    // first topic.
    void showIndex(const QString &keyword);
    // The topic mapped to a context number, else the first topic.
    void showContext(int context);

    QString firstTopic() const;
    // The page shown, as its path inside the archive ("/index.htm"), without anchor.
    QString currentTopic() const;
    QString contextTopic(int context) const;

    QTabWidget *Tabs = nullptr;
    QTreeWidget *Contents = nullptr;
    QLineEdit *IndexEdit = nullptr;
    QListWidget *IndexList = nullptr;
    THelpBrowser *Browser = nullptr;
    QAction *BackAction = nullptr;
    QAction *ForwardAction = nullptr;
    QAction *HomeAction = nullptr;

private:
    void loadContents();
    void loadIndex();
    void loadContextMap();
    void selectContentsItemFor(const QString &topic);
    void indexTextEdited(const QString &text);
    QString resolveArchivePath(const QString &path) const;

    std::unique_ptr<ChmArchive> m_archive;
    QList<SitemapEntry> m_index;
    QList<std::pair<int, QString>> m_context;
};
