#pragma once

#include "widgets/MyGrids.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QImage>

#include <functional>
#include <set>

class QMenu;

enum TSortStyle
{
    ssAutomatic,
    ssNormal,
    ssNumeric,
    ssNumericExtended,
    ssDateTime,
    ssTime,
    ssCustom
};
enum TSortDirection
{
    sdAscending,
    sdDescending
};
enum TAlignment
{
    taLeftJustify,
    taRightJustify,
    taCenter
};
enum TVertAlignment
{
    taTopJustify,
    taBottomJustify,
    taMiddle
};
enum TCellBevelStyle
{
    cbNone,
    cbRaised,
    cbLowered
};

// Sort settings of a grid; the form stores its members.
struct TSortOptions
{
    bool CanSort = true;
    TSortStyle SortStyle = ssNormal;
    bool SortCaseSensitive = false;
    int SortCol = 0;
    TSortDirection SortDirection = sdAscending;
    // Further key columns, most significant first, e.g. "2,3".
    QString SecondaryIndex;
    bool UpdateOnSizeChange = false;
    // Used by ssCustom; cleared after every sort.
    std::function<int(const QString &, const QString &)> CustomCompare;
};

struct TFormatBrush
{
    QColor Color;
};

// The cell font; the handler may change family, style, size and Color.
struct TFormatFont : public QFont
{
    QColor Color;
};

// Handed by reference to OnGetCellFormat, filled with the grid's defaults first.
struct TFormatOptions
{
    TFormatBrush Brush;
    TFormatFont Font;
    TAlignment AlignmentHorz = taLeftJustify;
    TVertAlignment AlignmentVert = taTopJustify;
    TCellBevelStyle BevelStyle = cbNone;
    QColor UpperLeftColor;
    QColor LowerRightColor;
    bool HideText = false;
};

// The table control of both protocols: a string grid with per-cell formats, sorting by
// columns, first-letter search, automatic column widths, a last column that fills the
// control, row and column insert/delete with notifications, cell validation and a
// modified flag.
class TSortGrid : public TMyStringGrid
{
    Q_OBJECT
public:
    explicit TSortGrid(QWidget *parent = nullptr);
    ~TSortGrid() override;

    TSortOptions &SortOptions() { return m_sortOptions; }
    const TSortOptions &SortOptions() const { return m_sortOptions; }

    TAlignment AlignmentHorz() const { return m_alignHorz; }
    void setAlignmentHorz(TAlignment a);
    TVertAlignment AlignmentVert() const { return m_alignVert; }
    void setAlignmentVert(TVertAlignment a);
    TCellBevelStyle BevelStyle() const { return m_bevelStyle; }
    void setBevelStyle(TCellBevelStyle b);
    bool ExtendedKeys() const { return m_extendedKeys; }
    void setExtendedKeys(bool v) { m_extendedKeys = v; }

    // Switches of the optional cell kinds, filtering and multi-selection; the drawing,
    // key and mouse paths consult them. They only store their value for now.
    bool MultiSelect() const { return m_multiSelect; }
    void setMultiSelect(bool v);
    bool HideRows() const { return m_hideRows; }
    void setHideRows(bool v);
    bool Filtered() const { return m_filtered; }
    bool ProportionalScrollBars() const { return m_proportionalScrollBars; }
    void setProportionalScrollBars(bool v) { m_proportionalScrollBars = v; }
    int HiddenRowCount() const { return m_hiddenRowCount; }

    QMenu *PopupMenu() const { return m_popupMenu; }
    void setPopupMenu(QMenu *m) { m_popupMenu = m; }

    bool Modified() const { return m_modified; }
    void setModified(bool v);

    const std::set<int> &SelectedRows() const { return m_selectedRows; }
    bool Sorting() const { return m_sorting; }

    void AutoSizeCol(int ACol, bool Force);
    // The width AutoSizeCol gives the column, without giving it.
    int FittedColWidth(int ACol);
    // AutoSizeCol measures only the data cells whose text changed since its last call on
    // the column, so that fitting costs the same for ten rows and for ten thousand. Only
    // for grids whose format handler gives every data cell of a column the same font.
    bool KeepColumnFit() const { return m_keepColumnFit; }
    void setKeepColumnFit(bool v);
    int FindInColumn(int ACol, const QString &Text, bool IgnoreCase) const;
    void GotoCell(int ACol, int ARow, bool Scroll);
    void ScrollToCell(int ACol, int ARow);
    void InsertRow(int ARow);
    void DeleteRow(int ARow);
    void InsertColumn(int ACol);
    void DeleteColumn(int ACol);
    void BeginUpdate() override;
    void EndUpdate() override;

    void SortByColumn(int ACol);
    // What a click on a column title does (direction, then sort).
    void HeaderClick(int ACol, Qt::MouseButton Button);
    // The format of a cell as OnGetCellFormat leaves it.
    TFormatOptions CellFormat(int ACol, int ARow, TGridDrawState State, bool &CheckBox,
                              bool &Combobox, bool &Ellipsis);

    // A title shortened to avail pixels: it then ends in "..", and is never shortened
    // below three characters.
    static QString ShortenTitle(const QString &text, int avail, const QFontMetrics &fm);
    // The header arrows, 8 x 7 pixels.
    static QImage ArrowImage(TSortDirection dir);

    // Text comparison of the sort styles, exposed for tests and benchmarks.
    static int CompareText(const QString &a, const QString &b);
    static int CompareNumericExtended(const QString &a, const QString &b);
    // The style a column's data rows allow (ssNumeric, ssDateTime, ssTime, ssNormal).
    TSortStyle DetectSortStyle(int ACol) const;

    // Shows the grid's few technical messages ("Rowsize too small"); tests replace it.
    static std::function<void(const QString &)> ShowMessageHook;

    std::function<void(QObject *Sender, int Col, int Row, TGridDrawState State,
                       TFormatOptions &FormatOptions, bool &CheckBox, bool &Combobox,
                       bool &Ellipsis)>
        OnGetCellFormat;
    std::function<void(QObject *Sender, int ARow)> OnRowInsert;
    std::function<void(QObject *Sender, int ARow)> OnRowDelete;
    std::function<void(QObject *Sender, int ACol)> OnColumnInsert;
    std::function<void(QObject *Sender, int ACol)> OnColumnDelete;
    std::function<void(QObject *Sender, int OldColCount, int OldRowCount)> OnSizeChanged;
    std::function<void(QObject *Sender)> OnModified;
    // After the control was resized (and its last column filled).
    std::function<void(QObject *Sender)> OnResize;
    std::function<void(QObject *Sender)> OnRowSelected;
    std::function<void(QObject *Sender)> OnEndUpdate;
    std::function<void(QObject *Sender, int ACol, int ARow, const QString &OldValue,
                       QString &NewValue, bool &Valid)>
        OnCellValidate;
    std::function<void(QObject *Sender)> OnColumnWidthsChanged;
    std::function<void(QObject *Sender)> OnRowHeightsChanged;
    std::function<void(QObject *Sender, int Col, TSortStyle &SortStyle)> OnGetSortStyle;
    std::function<void(QObject *Sender, int &Col)> OnBeginSort;
    std::function<void(QObject *Sender, int Col)> OnEndSort;

    void KeyPress(QChar &Key) override;

protected:
    void DrawCell(QPainter &p, int col, int row, const QRect &rect, TGridDrawState state) override;
    bool SelectCell(int col, int row) override;
    void SetEditText(int col, int row, const QString &value) override;
    void SizeChanged(int oldColCount, int oldRowCount) override;
    void ColumnMoved(int from, int to) override;
    void ColWidthsChanged() override;
    void RowHeightsChanged() override;
    void EditorShown() override;
    void FocusEntered() override;
    void FocusLeft() override;

    void keyPressEvent(QKeyEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void wheelEvent(QWheelEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;

private:
    struct SortEntry;
    int compareEntries(const SortEntry &x, const SortEntry &y, TSortStyle style) const;
    void rememberForValidation();
    void validateCell();
    void fillLastColumn();
    // The cell under a point; a point below the last row counts as the last row.
    TGridCoord headerHit(const QPoint &pos) const;
    bool nearColumnBorder(int col, int x, int dist) const;

    TSortOptions m_sortOptions;
    TAlignment m_alignHorz = taLeftJustify;
    TVertAlignment m_alignVert = taTopJustify;
    TCellBevelStyle m_bevelStyle = cbNone;
    bool m_extendedKeys = false;
    bool m_keepColumnFit = false;
    bool m_multiSelect = false;
    bool m_hideRows = false;
    bool m_filtered = false;
    bool m_proportionalScrollBars = false;
    int m_hiddenRowCount = 0;
    QMenu *m_popupMenu = nullptr;
    bool m_modified = false;
    std::set<int> m_selectedRows;
    bool m_sorting = false;
    bool m_savedUpdateOnSizeChange = false;
    int m_updateDepth = 0;

    TGridCoord m_pressCell{-1, -1};
    QPoint m_pressPos;
    Qt::MouseButton m_pressButton = Qt::NoButton;

    // Remembered for validation when an edited cell is left.
    bool m_valRemembered = false;
    TGridCoord m_valCell{-1, -1};
    QString m_valText;
    bool m_valModified = false;
    bool m_validating = false;
};
