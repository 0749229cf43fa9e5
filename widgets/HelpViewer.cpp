#include "widgets/HelpViewer.h"

#include "platform/HelpLibrary.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSplitter>
#include <QStringConverter>
#include <QStyle>
#include <QTabWidget>
#include <QTextDocumentFragment>
#include <QToolBar>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <QtEndian>

namespace {
QString decodeEntities(const QString &s)
{
    if (!s.contains(QLatin1Char('&')))
        return s;
    return QTextDocumentFragment::fromHtml(s).toPlainText();
}

// Attributes of one tag, names lower-cased.
QHash<QString, QString> attributes(const QString &text)
{
    static const QRegularExpression re(
        QStringLiteral(R"re((\w+)\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s"'>]+)))re"));
    QHash<QString, QString> attrs;
    auto it = re.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        QString v = m.captured(2);
        if (v.isNull())
            v = m.captured(3);
        if (v.isNull())
            v = m.captured(4);
        attrs.insert(m.captured(1).toLower(), v);
    }
    return attrs;
}

QString withoutFragment(const QString &topic)
{
    const qsizetype hash = topic.indexOf(QLatin1Char('#'));
    return hash < 0 ? topic : topic.left(hash);
}

QString rooted(QString p)
{
    if (!p.startsWith(QLatin1Char('/')))
        p.prepend(QLatin1Char('/'));
    return p;
}
} // namespace

QList<SitemapEntry> parseSitemap(const QString &html)
{
    static const QRegularExpression tagRe(QStringLiteral(R"(<\s*(/?)\s*([A-Za-z]+)([^>]*)>)"));
    QList<SitemapEntry> entries;
    int depth = 0;
    bool inObject = false;
    SitemapEntry current;
    auto it = tagRe.globalMatch(html);
    while (it.hasNext()) {
        const auto m = it.next();
        const bool closing = !m.captured(1).isEmpty();
        const QString tag = m.captured(2).toLower();
        if (tag == QLatin1String("ul")) {
            depth = closing ? qMax(0, depth - 1) : depth + 1;
        } else if (tag == QLatin1String("object")) {
            // An entry whose closing tag is missing ends where the next one starts.
            if (!closing && inObject && (!current.name.isEmpty() || !current.local.isEmpty()))
                entries.append(current);
            if (!closing) {
                const auto attrs = attributes(m.captured(3));
                inObject = attrs.value(QStringLiteral("type"))
                               .compare(QLatin1String("text/sitemap"), Qt::CaseInsensitive) == 0;
                current = SitemapEntry{};
                current.depth = qMax(0, depth - 1);
            } else if (inObject) {
                inObject = false;
                if (!current.name.isEmpty() || !current.local.isEmpty())
                    entries.append(current);
            }
        } else if (tag == QLatin1String("param") && inObject) {
            const auto attrs = attributes(m.captured(3));
            const QString name = attrs.value(QStringLiteral("name")).toLower();
            const QString value = decodeEntities(attrs.value(QStringLiteral("value")));
            // A sitemap entry may name several pages; the first one is the entry's page.
            if (name == QLatin1String("name") && current.name.isEmpty())
                current.name = value;
            else if (name == QLatin1String("local") && current.local.isEmpty())
                current.local = value;
        }
    }
    if (inObject && (!current.name.isEmpty() || !current.local.isEmpty()))
        entries.append(current);
    return entries;
}

QString decodeHelpPage(const QByteArray &data)
{
    // encodingForHtml() answers UTF-8 also when the page declares nothing, so it is asked
    // only when there is a byte-order mark or a declaration.
    const bool declared = QStringConverter::encodingForData(data).has_value() ||
                          data.left(1024).toLower().contains("charset");
    if (auto enc = declared ? QStringConverter::encodingForHtml(data) : std::nullopt) {
        QStringDecoder dec(*enc);
        return dec(data);
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(data);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(data);
}

THelpBrowser::THelpBrowser(const ChmArchive &archive, QWidget *parent)
    : QTextBrowser(parent), m_archive(archive)
{
    setObjectName("Browser");
}

QVariant THelpBrowser::loadResource(int type, const QUrl &name)
{
    if (!name.scheme().isEmpty())
        return {};
    const QByteArray data = m_archive.read(rooted(name.path()));
    if (data.isEmpty())
        return {};
    if (type == QTextDocument::HtmlResource || type == QTextDocument::StyleSheetResource)
        return decodeHelpPage(data);
    return data;
}

THelpViewer::THelpViewer(std::unique_ptr<ChmArchive> archive, QWidget *parent)
    : QWidget(parent, Qt::Window), m_archive(std::move(archive))
{
    setObjectName("HelpViewer");
    // The help must never keep the program alive after the main window has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(m_archive->title().isEmpty() ? QStringLiteral("Hilfe") : m_archive->title());
    resize(780, 540);

    auto *split = new QSplitter(this);
    Tabs = new QTabWidget(split);
    Tabs->setObjectName("Tabs");
    Contents = new QTreeWidget;
    Contents->setObjectName("Contents");
    Contents->setHeaderHidden(true);
    Tabs->addTab(Contents, QStringLiteral("Inhalt"));

    auto *indexPage = new QWidget;
    auto *indexLayout = new QVBoxLayout(indexPage);
    indexLayout->setContentsMargins(4, 4, 4, 4);
    IndexEdit = new QLineEdit(indexPage);
    IndexEdit->setObjectName("IndexEdit");
    IndexEdit->setPlaceholderText(QStringLiteral("Stichwort"));
    IndexList = new QListWidget(indexPage);
    IndexList->setObjectName("IndexList");
    indexLayout->addWidget(IndexEdit);
    indexLayout->addWidget(IndexList);
    Tabs->addTab(indexPage, QStringLiteral("Index"));

    Browser = new THelpBrowser(*m_archive, split);
    Browser->setOpenLinks(false);
    split->addWidget(Tabs);
    split->addWidget(Browser);
    split->setStretchFactor(1, 1);
    // Back, forward and home, as the browser also offers them on Alt+Left/Right/Up.
    auto *bar = new QToolBar(this);
    bar->setObjectName("ToolBar");
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    BackAction = bar->addAction(style()->standardIcon(QStyle::SP_ArrowBack),
                                QStringLiteral("Zurück"), Browser, &QTextBrowser::backward);
    ForwardAction = bar->addAction(style()->standardIcon(QStyle::SP_ArrowForward),
                                   QStringLiteral("Vor"), Browser, &QTextBrowser::forward);
    HomeAction = bar->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon),
                                QStringLiteral("Startseite"), this, &THelpViewer::showContents);
    BackAction->setEnabled(false);
    ForwardAction->setEnabled(false);
    connect(Browser, &QTextBrowser::backwardAvailable, BackAction, &QAction::setEnabled);
    connect(Browser, &QTextBrowser::forwardAvailable, ForwardAction, &QAction::setEnabled);
    connect(Browser, &QTextBrowser::sourceChanged, this,
            [this](const QUrl &url) { selectContentsItemFor(url.path()); });

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(split);

    connect(Contents, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) {
        const QString local = item->data(0, Qt::UserRole).toString();
        if (!local.isEmpty())
            showTopic(local);
    });
    connect(Contents, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem *item) {
        const QString local = item->data(0, Qt::UserRole).toString();
        if (!local.isEmpty())
            showTopic(local);
    });
    connect(IndexEdit, &QLineEdit::textEdited, this, &THelpViewer::indexTextEdited);
    connect(IndexEdit, &QLineEdit::returnPressed, this, [this] {
        if (QListWidgetItem *item = IndexList->currentItem())
            showTopic(item->data(Qt::UserRole).toString());
    });
    connect(IndexList, &QListWidget::itemActivated, this,
            [this](QListWidgetItem *item) { showTopic(item->data(Qt::UserRole).toString()); });
    connect(IndexList, &QListWidget::itemClicked, this,
            [this](QListWidgetItem *item) { showTopic(item->data(Qt::UserRole).toString()); });
    connect(Browser, &QTextBrowser::anchorClicked, this, [this](const QUrl &url) {
        if (!url.scheme().isEmpty()) {
            QDesktopServices::openUrl(url);
            return;
        }
        const QUrl target = Browser->source().resolved(url);
        showTopic(target.path() +
                  (target.hasFragment() ? QLatin1Char('#') + target.fragment() : QString()));
    });

    loadContents();
    loadIndex();
    loadContextMap();
    // The contents pane as wide as its longest entry (with its indentation, the frames and
    // room for a scroll bar), so that no title is cut; at most half the window.
    int widest = 0;
    for (QTreeWidgetItemIterator it(Contents); *it; ++it) {
        int depth = Contents->rootIsDecorated() ? 1 : 0;
        for (const QTreeWidgetItem *p = (*it)->parent(); p; p = p->parent())
            ++depth;
        widest = qMax(widest, Contents->fontMetrics().horizontalAdvance((*it)->text(0)) +
                                  depth * Contents->indentation());
    }
    const int needed = widest + 2 * Contents->frameWidth() +
                       Contents->verticalScrollBar()->sizeHint().width() + 16;
    const int contentsWidth = qBound(220, needed, width() / 2);
    split->setSizes({contentsWidth, width() - contentsWidth});
}

THelpViewer::~THelpViewer() = default;

QString THelpViewer::helpFile() const
{
    return m_archive->fileName();
}

void THelpViewer::loadContents()
{
    const QList<SitemapEntry> entries =
        parseSitemap(decodeHelpPage(m_archive->read(m_archive->contentsFile())));
    QList<QTreeWidgetItem *> parents;
    for (const SitemapEntry &e : entries) {
        const int depth = qMin<int>(e.depth, parents.size());
        parents.resize(depth);
        auto *item =
            parents.isEmpty() ? new QTreeWidgetItem(Contents) : new QTreeWidgetItem(parents.last());
        item->setText(0, e.name);
        item->setData(0, Qt::UserRole, e.local);
        parents.append(item);
    }
    Contents->expandAll();
}

void THelpViewer::loadIndex()
{
    m_index = parseSitemap(decodeHelpPage(m_archive->read(m_archive->indexFile())));
    for (const SitemapEntry &e : std::as_const(m_index)) {
        auto *item = new QListWidgetItem(e.name, IndexList);
        item->setData(Qt::UserRole, e.local);
    }
}

void THelpViewer::loadContextMap()
{
    // "#IVB" holds pairs of context number and offset of the topic's name in "#STRINGS".
    const QByteArray ivb = m_archive->read(QStringLiteral("/#IVB"));
    const QByteArray strings = m_archive->read(QStringLiteral("/#STRINGS"));
    if (ivb.size() < 4 || strings.isEmpty())
        return;
    const auto *p = reinterpret_cast<const uchar *>(ivb.constData());
    const qsizetype count = qMin<qsizetype>(qFromLittleEndian<quint32>(p), ivb.size() - 4) / 8;
    for (qsizetype i = 0; i < count; ++i) {
        const qint32 id = qFromLittleEndian<qint32>(p + 4 + 8 * i);
        const quint32 offset = qFromLittleEndian<quint32>(p + 8 + 8 * i);
        if (offset >= quint32(strings.size()))
            continue;
        const char *s = strings.constData() + offset;
        const qsizetype len = qstrnlen(s, strings.size() - offset);
        const QString path = resolveArchivePath(QString::fromUtf8(s, len));
        if (!path.isEmpty())
            m_context.append({id, path});
    }
}

QString THelpViewer::resolveArchivePath(const QString &path) const
{
    // Some compilers store the page's path as it was on the build machine; the page is the
    // longest tail of that path that the archive holds.
    QString p = path;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList parts = p.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString candidate = QLatin1Char('/') + parts.mid(i).join(QLatin1Char('/'));
        if (m_archive->contains(candidate))
            return candidate;
    }
    return {};
}

QString THelpViewer::contextTopic(int context) const
{
    for (const auto &[id, path] : m_context)
        if (id == context)
            return path;
    return {};
}

QString THelpViewer::firstTopic() const
{
    const QString def = m_archive->defaultTopic();
    if (!def.isEmpty() && m_archive->contains(withoutFragment(def)))
        return def;
    for (QTreeWidgetItemIterator it(Contents); *it; ++it) {
        const QString local = (*it)->data(0, Qt::UserRole).toString();
        if (!local.isEmpty() && m_archive->contains(rooted(withoutFragment(local))))
            return rooted(local);
    }
    return {};
}

QString THelpViewer::currentTopic() const
{
    return Browser->source().path();
}

bool THelpViewer::showTopic(const QString &topic)
{
    const QString t = rooted(topic.trimmed());
    const QString path = withoutFragment(t);
    if (path.size() <= 1 || !m_archive->contains(path))
        return false;
    Browser->setSource(QUrl(t), QTextDocument::HtmlResource);
    return true;
}

void THelpViewer::selectContentsItemFor(const QString &path)
{
    for (QTreeWidgetItemIterator it(Contents); *it; ++it) {
        const QString local = rooted(withoutFragment((*it)->data(0, Qt::UserRole).toString()));
        if (local.compare(path, Qt::CaseInsensitive) == 0) {
            Contents->setCurrentItem(*it);
            return;
        }
    }
}

void THelpViewer::showContents()
{
    Tabs->setCurrentIndex(0);
    showTopic(firstTopic());
}

void THelpViewer::indexTextEdited(const QString &text)
{
    if (text.isEmpty())
        return;
    for (int i = 0; i < IndexList->count(); ++i) {
        if (IndexList->item(i)->text().startsWith(text, Qt::CaseInsensitive)) {
            IndexList->setCurrentRow(i);
            return;
        }
    }
}

void THelpViewer::showIndex(const QString &keyword)
{
    Tabs->setCurrentIndex(1);
    IndexEdit->setText(keyword);
    IndexList->clearSelection();
    IndexList->setCurrentRow(-1);
    indexTextEdited(keyword);
    QListWidgetItem *item = keyword.isEmpty() ? nullptr : IndexList->currentItem();
    if (!item || !showTopic(item->data(Qt::UserRole).toString()))
        showTopic(firstTopic());
}

void THelpViewer::showContext(int context)
{
    const QString topic = contextTopic(context);
    if (topic.isEmpty() || !showTopic(topic))
        showTopic(firstTopic());
}
