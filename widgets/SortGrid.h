#pragma once

#include "widgets/MyGrids.h"

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QImage>

#include <functional>
#include <set>

class QListWidget;
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
// modified flag. An owner may also switch on check-box, drop-down and ellipsis cells,
// row filtering, hidden rows, multi-row selection and proportional scroll bars; the
// protocol tables use none of them.
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

    // Multi-row selection; switching it on also switches on row select.
    bool MultiSelect() const { return m_multiSelect; }
    void setMultiSelect(bool v);
    // Draws every data row blank.
    bool HideRows() const { return m_hideRows; }
    void setHideRows(bool v);
    // Moves the rows that OnSetFilter rejects out of view (beyond RowCount, where the
    // storage keeps them); switching it off brings them back.
    bool Filtered() const { return m_filtered; }
    void setFiltered(bool v);
    // Rows currently moved out of view by the filter.
    int HiddenRowCount() const { return m_hiddenRowCount; }
    // Thumbs that show the visible share of the rows and columns.
    bool ProportionalScrollBars() const { return m_proportionalScrollBars; }
    void setProportionalScrollBars(bool v);

    QMenu *PopupMenu() const { return m_popupMenu; }
    void setPopupMenu(QMenu *m) { m_popupMenu = m; }

    bool Modified() const { return m_modified; }
    void setModified(bool v);

    const std::set<int> &SelectedRows() const { return m_selectedRows; }

    // Check-box cells: checked is "true", "1" or "V"; SetChecked writes "V" or an empty
    // text, and only into cells whose format says check box.
    bool IsChecked(int ACol, int ARow) const;
    void SetChecked(int ACol, int ARow, bool State);
    // The drop-down list of drop-down cells (created with the grid, hidden while closed).
    QListWidget *ComboList() const { return m_comboList; }
    bool Sorting() const { return m_sorting; }

    void AutoSizeCol(int ACol, bool Force);
    // The width AutoSizeCol gives the column, without giving it.
    int FittedColWidth(int ACol);
    // AutoSizeCol measures only the data cells whose text changed since its last call on
    // the column, so that fitting costs the same for ten rows and for ten thousand. Only
    // for grids whose format handler gives every data cell of a column the same font.
    bool KeepColumnFit() const { return m_keepColumnFit; }
    void setKeepColumnFit(bool v);
    // The font the data cells of a column are fitted in (with KeepColumnFit every data cell
    // has it), for measuring a table on another thread before the grid takes it: a copy
    // for that thread, measured as textWidth does.
    QFont dataFont(int ACol);
    static int textWidth(const QFontMetrics &fm, const QString &text)
    {
        return fm.horizontalAdvance(text);
    }
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
    // The 16 x 16 pictures of the cell kinds; the check boxes are transparent around
    // the box, the two cell buttons opaque.
    enum TCellPicture
    {
        cpChecked,
        cpUnchecked,
        cpCombobox,
        cpEllipsis
    };
    static QImage CellPicture(TCellPicture which);

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
    // Once per data row when filtering is switched on; Accept starts false.
    std::function<void(const QStringList &ARows, bool &Accept)> OnSetFilter;
    std::function<void(QObject *Sender, int ACol, int ARow, bool State)> OnSetChecked;
    // Fills the list of a drop-down cell that opens; Width and Height start 0, Sorted true.
    std::function<void(QObject *Sender, int ACol, int ARow, QStringList &Strs, int &Width,
                       int &Height, bool &Sorted)>
        OnGetComboBox;
    std::function<void(QObject *Sender, int ACol, int ARow, const QString &Str)> OnSetComboBox;
    std::function<void(QObject *Sender, int ACol, int ARow)> OnSetEllipsis;

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
    // Check-box and drop-down cells are never edited as text.
    bool CanEditShow() const override;
    void ScrollBarsUpdated() override;
    // Starts the toolkit's drag of the selected rows (their texts, tab-separated).
    virtual void BeginDrag();

    void keyPressEvent(QKeyEvent *e) override;
    void keyReleaseEvent(QKeyEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
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

    struct CellKinds
    {
        bool checkBox = false, combo = false, ellipsis = false;
        bool any() const { return checkBox || combo || ellipsis; }
    };
    CellKinds cellKinds(int ACol, int ARow);
    void drawCellKinds(QPainter &p, int col, int row, const QRect &rect, const CellKinds &k);
    // Space (atPos null) or a click released at atPos on a data cell; true when the cell
    // is of a kind that took the action.
    bool cellKindAction(int ACol, int ARow, const QPoint *atPos);
    void toggleCheck(int ACol, int ARow);
    void createComboList();
    bool openComboList(int ACol, int ARow);
    void closeComboList(bool write);
    bool comboEvent(QEvent *e);
    void filterRows();
    void unfilterRows();
    void selectRows(const std::set<int> &rows);
    std::set<int> selectionRectRows() const;
    void endKeyRange();
    bool multiSelectKeyPress(QKeyEvent *e);
    void multiSelectAfterKey(QKeyEvent *e);
    void multiSelectRelease(QMouseEvent *e, int row);
    bool multiSelecting() const { return m_multiSelect && !EditorMode(); }

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
    // The data cell exactly under the last press, (-1, -1) for none.
    TGridCoord m_pressDataCell{-1, -1};

    // Drop-down list: owned by the grid, shown on the owning window while open.
    QListWidget *m_comboList = nullptr; // cleared when the window deletes it
    bool m_comboOpen = false;
    TGridCoord m_comboCell{-1, -1};
    bool m_tabDown = false;

    // Multi-selection: a press that keeps the selection, a press that may start a drag,
    // and keyboard range selection (Shift held), with whether it added goRangeSelect.
    bool m_mouseMulti = false;
    bool m_dragCandidate = false;
    bool m_keyRange = false;
    bool m_keyRangeAddedOption = false;
    // While the filter itself changes the row count.
    bool m_filtering = false;

    // Remembered for validation when an edited cell is left.
    bool m_valRemembered = false;
    TGridCoord m_valCell{-1, -1};
    QString m_valText;
    bool m_valModified = false;
    bool m_validating = false;
};
