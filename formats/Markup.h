#pragma once

#include <QFlags>
#include <QString>

// Texts inside HTML and XML: the characters that would be read as markup are written as
// entities. One rule for every page and document the program writes; the options are
// where those differ.
namespace Markup {
enum EscapeOption
{
    // "'" as "&#39;" too, for texts that may stand in an attribute quoted either way.
    Apostrophe = 0x1,
    // Everything outside Latin-1 (and the C1 controls 0x80-0x9F) as a numeric reference
    // ("&#322;"), for a page declared as ISO-8859-1.
    Latin1Only = 0x2,
    // Control characters other than TAB and line feed as a blank: XML cannot hold them.
    NoControls = 0x4,
};
Q_DECLARE_FLAGS(EscapeOptions, EscapeOption)

// "&", "<", ">" and '"' as entities, and what the options add.
QString escape(const QString &text, EscapeOptions options = {});
} // namespace Markup

Q_DECLARE_OPERATORS_FOR_FLAGS(Markup::EscapeOptions)
