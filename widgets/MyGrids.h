#pragma once

#include "platform/Colors.h"
#include "widgets/ColumnFit.h"

#include <QAbstractScrollArea>
#include <QFlags>
#include <QStringList>

#include <functional>
#include <vector>

class QLineEdit;
class QPainter;

struct TGridCoord
{
    int X = 0;
    int Y = 0;
    bool operator==(const TGridCoord &) const = default;
};

struct TGridRect
{
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    bool operator==(const TGridRect &) const = default;
};

enum TGridOption
{
    goFixedVertLine = 0x0001,
    goFixedHorzLine = 0x0002,
    goVertLine = 0x0004,
    goHorzLine = 0x0008,
    goRangeSelect = 0x0010,
    goDrawFocusSelected = 0x0020,
    goRowSizing = 0x0040,
    goColSizing = 0x0080,
    goRowMoving = 0x0100,
    goColMoving = 0x0200,
    goEditing = 0x0400,
    goTabs = 0x0800,
    goRowSelect = 0x1000,
    goAlwaysShowEditor = 0x2000,
    goThumbTracking = 0x4000,
};
Q_DECLARE_FLAGS(TGridOptions, TGridOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TGridOptions)

enum TGridDrawStateFlag
{
    gdSelected = 0x1,
    gdFocused = 0x2,
    gdFixed = 0x4,
};
Q_DECLARE_FLAGS(TGridDrawState, TGridDrawStateFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(TGridDrawState)

// The grid all tables are built on: fixed rows and columns, a current cell with a
// selection rectangle, an in-place editor and scrolling by whole rows and columns.
// Only the rows and columns in view are ever measured or drawn, so a grid with
// tens of thousands of rows costs no more to paint than a small one.
class TMyCustomGrid : public QAbstractScrollArea
{
    Q_OBJECT
public:
    // System colours (top byte 0xFF), resolved through the application palette.
    static constexpr TColor clWindow = 0xFF000005;
    static constexpr TColor clHighlight = 0xFF00000D;
    static constexpr TColor clHighlightText = 0xFF00000E;
    static constexpr TColor clBtnShadow = 0xFF000010;
    static constexpr TColor clBtnHighlight = 0xFF000014;
    static constexpr TColor clWindowText = 0xFF000008;

    explicit TMyCustomGrid(QWidget *parent = nullptr);
    ~TMyCustomGrid() override;

    int ColCount() const { return m_colCount; }
    void setColCount(int v);
    int RowCount() const { return m_rowCount; }
    void setRowCount(int v);
    int FixedCols() const { return m_fixedCols; }
    void setFixedCols(int v);
    int FixedRows() const { return m_fixedRows; }
    void setFixedRows(int v);

    int DefaultColWidth() const { return m_defaultColWidth; }
    void setDefaultColWidth(int v);
    int DefaultRowHeight() const { return m_defaultRowHeight; }
    void setDefaultRowHeight(int v);
    int ColWidths(int col) const;
    void setColWidths(int col, int w);
    int RowHeights(int row) const;
    void setRowHeights(int row, int h);
    int GridLineWidth() const { return 1; }

    int Col() const { return m_cur.X; }
    void setCol(int v);
    int Row() const { return m_cur.Y; }
    void setRow(int v);
    int LeftCol() const { return m_leftCol; }
    void setLeftCol(int v);
    int TopRow() const { return m_topRow; }
    void setTopRow(int v);
    int VisibleColCount() const;
    int VisibleRowCount() const;

    TGridRect Selection() const;
    void setSelection(const TGridRect &r);

    TGridOptions Options() const { return m_options; }
    void setOptions(TGridOptions o);

    bool EditorMode() const { return m_editorMode; }
    void setEditorMode(bool v);
    QLineEdit *InplaceEditor() const { return m_editor; }

    TColor FixedColor() const { return m_fixedColor; }
    void setFixedColor(TColor c);
    TColor Color() const { return m_color; }
    void setColor(TColor c);

    virtual void BeginUpdate();
    virtual void EndUpdate();
    bool Updating() const { return m_updateCount > 0; }

    // Cell geometry in viewport coordinates; an empty rectangle for a cell out of view.
    QRect CellRect(int col, int row) const;
    // The cell under a viewport point, (-1, -1) outside every cell.
    TGridCoord MouseCoord(int x, int y) const;

    void InvalidateCell(int col, int row);
    void InvalidateRow(int row);
    void InvalidateCol(int col);
    void InvalidateGrid();

    void MoveColumn(int from, int to);
    void MoveRow(int from, int to);
    void DeleteColumnAt(int col);
    void DeleteRowAt(int row);

    std::function<void(QObject *Sender, int ACol, int ARow, bool &CanSelect)> OnSelectCell;
    std::function<void(QObject *Sender, int ACol, int ARow, const QString &Value)> OnSetEditText;
    std::function<void(QObject *Sender, int ACol, int ARow, const QRect &Rect,
                       TGridDrawState State)>
        OnDrawCell;
    std::function<void(QObject *Sender, QChar &Key)> OnKeyPress;
    std::function<void(QObject *Sender)> OnDblClick;

    // The character path of the grid and its editor; Key set to QChar(0) discards it.
    virtual void KeyPress(QChar &Key);
    // Shows or hides the in-place editor as the options allow.
    void ShowEditor();
    void HideEditor();

protected:
    // Hooks of the derived grids.
    virtual void DrawCell(QPainter &p, int col, int row, const QRect &rect, TGridDrawState state);
    virtual bool SelectCell(int col, int row);
    virtual QString GetEditText(int col, int row);
    virtual void SetEditText(int col, int row, const QString &value);
    virtual void SizeChanged(int oldColCount, int oldRowCount);
    virtual void ColumnMoved(int from, int to);
    virtual void RowMoved(int from, int to);
    virtual void ColumnDeleted(int col);
    virtual void RowDeleted(int row);
    virtual void ColWidthsChanged() {}
    virtual void RowHeightsChanged() {}
    virtual void TopLeftChanged() {}
    // After the scroll bars were set from the grid's size and position.
    virtual void ScrollBarsUpdated() {}
    virtual void EditorShown() {}
    virtual bool CanEditShow() const;
    // The focus came into the grid (or its editor) from outside, or left both.
    virtual void FocusEntered() {}
    virtual void FocusLeft() {}

    // Makes (col, row) current without asking SelectCell.
    void setCurrentCell(int col, int row, bool moveAnchor);

    // Moves the current cell after asking SelectCell; false when it was refused.
    bool MoveCurrent(int col, int row, bool moveAnchor, bool show);
    // Scrolls so that the cell is fully in view.
    void ClampInView(int col, int row);
    void setAnchor(int col, int row) { m_anchor = {col, row}; }
    TGridCoord anchor() const { return m_anchor; }
    TGridDrawState cellState(int col, int row) const;
    int MaxTopRow() const;
    int MaxLeftCol() const;
    // Fills the cell as the base grid does before handing it to DrawCell.
    void PrepareCanvas(QPainter &p, int col, int row, TGridDrawState state);
    void UpdateEditorGeometry();
    void UpdateScrollBars() { updateScrollBars(); }
    bool isInGrid(QWidget *w) const;

    void paintEvent(QPaintEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void scrollContentsBy(int dx, int dy) override;
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;
    bool eventFilter(QObject *o, QEvent *e) override;

    // Current font and fill while a cell is drawn; format handlers change them in place.
    QFont m_cellFont;
    QColor m_cellFontColor;
    QColor m_cellBrush;

private:
    void updateScrollBars();
    void selectionChanged(const TGridRect &oldSel);
    int fixedWidth() const;
    int fixedHeight() const;

    int m_colCount = 5;
    int m_rowCount = 5;
    int m_fixedCols = 1;
    int m_fixedRows = 1;
    int m_defaultColWidth = 64;
    int m_defaultRowHeight = 24;
    std::vector<int> m_colWidths;
    std::vector<int> m_rowHeights;
    TGridCoord m_cur{1, 1};
    TGridCoord m_anchor{1, 1};
    int m_leftCol = 1;
    int m_topRow = 1;
    TGridOptions m_options =
        TGridOptions(goFixedVertLine) | goFixedHorzLine | goVertLine | goHorzLine | goRangeSelect;
    TColor m_fixedColor = clBtnFace;
    TColor m_color = clWindow;
    int m_updateCount = 0;
    bool m_editorMode = false;
    bool m_settingEditor = false;
    QString m_editorOriginal;
    QLineEdit *m_editor = nullptr;
    bool m_selecting = false;
    bool m_syncingBars = false;
    bool m_gridFocused = false;
};

// Adds the owner's draw and select events to the base grid.
class TMyDrawGrid : public TMyCustomGrid
{
    Q_OBJECT
public:
    explicit TMyDrawGrid(QWidget *parent = nullptr);

protected:
    void DrawCell(QPainter &p, int col, int row, const QRect &rect, TGridDrawState state) override;
    bool SelectCell(int col, int row) override;
};

// A grid of texts. Storage is sparse: a row costs nothing until one of its cells is
// written, and rows at or beyond RowCount keep their texts and come back when the
// grid grows again.
class TMyStringGrid : public TMyDrawGrid
{
    Q_OBJECT
public:
    explicit TMyStringGrid(QWidget *parent = nullptr);

    QString Cells(int col, int row) const;
    void setCells(int col, int row, const QString &value);
    QStringList Rows(int row) const;
    void setRows(int row, const QStringList &cells);
    void clearRow(int row);
    // Takes rows as the grid's whole content at once, RowCount their number: no cell is
    // copied. Each row holds at most ColCount cells. Returns the rows stored before (also
    // those beyond RowCount), for the caller to let go of.
    std::vector<QStringList> replaceRows(std::vector<QStringList> rows);
    // The text widths of a column's data cells as fitting measures them, by row (row 0 not
    // used), measured elsewhere for rows just taken with replaceRows.
    void adoptColumnWidths(int col, std::vector<int> widths)
    {
        m_fit.adopt(col, std::move(widths));
    }
    QStringList Cols(int col) const;
    void setCols(int col, const QStringList &cells);
    void clearCol(int col);
    // A row's text as the cells joined, each followed by a line break.
    QString RowText(int row) const;
    // Changes whenever a text, the size or the order of rows or columns changes, so that
    // a reader can tell cheaply whether it must look again.
    quint64 contentRevision() const { return m_revision; }

    // What changed in the texts, for a reader that keeps a copy of its own and follows the
    // changes instead of copying the grid: a cell (col, row), a whole row, a row deleted
    // or moved, the row count (rows from .. to; the rows that come back hold what they
    // held), or anything at all (the order or the number of the columns, a sort).
    struct TContentChange
    {
        enum Kind
        {
            Cell,
            Row,
            RowDeleted,
            RowMoved,
            RowCount,
            All
        };
        Kind kind = All;
        int a = -1; // Cell: col; Row, RowDeleted: row; RowMoved, RowCount: from
        int b = -1; // Cell: row; RowMoved, RowCount: to
    };

signals:
    void contentChange(const TMyStringGrid::TContentChange &change);

public:
    // Moves a row (IsColumn false) or a column to a new index, shifting the others.
    void MoveColRow(bool IsColumn, int FromIndex, int ToIndex);

protected:
    void DrawCell(QPainter &p, int col, int row, const QRect &rect, TGridDrawState state) override;
    QString GetEditText(int col, int row) override;
    void SetEditText(int col, int row, const QString &value) override;
    void SizeChanged(int oldColCount, int oldRowCount) override;
    void ColumnMoved(int from, int to) override;
    void RowMoved(int from, int to) override;
    void ColumnDeleted(int col) override;
    void RowDeleted(int row) override;
    void changeEvent(QEvent *e) override;
    // Shows the current cell's text in an open editor after the storage changed.
    void syncEditor();
    // Stored rows, also those beyond RowCount; a row may hold fewer cells than ColCount.
    int storedRowCount() const { return int(m_rows.size()); }
    // For rearranging rows in place; the kept text widths are measured afresh afterwards.
    std::vector<QStringList> &storage()
    {
        m_fit.clear();
        ++m_revision;
        contentChanged({TContentChange::All});
        return m_rows;
    }
    // The widest data cell of a column, measuring only the cells whose text changed since
    // the last call for that column; measure(row) gives the width of one cell.
    int keptWidest(int col, const std::function<int(int row)> &measure);
    // Stops keeping widths until keptWidest is asked again.
    void forgetKeptWidths() { m_fit.clear(); }

private:
    void contentChanged(const TContentChange &c) { emit contentChange(c); }

    std::vector<QStringList> m_rows;
    TColumnFit m_fit;
    quint64 m_revision = 0;
};
