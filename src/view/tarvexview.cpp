// SPDX-License-Identifier: MIT
// The form view: layout in dialog units, the sheet in its placeholder, the banner, printing.
#include "view/tarvexview.h"

#include "pages/propertysheet.h"
#include "richtext/richtextwriter.h"

#include <QFrame>
#include <QLayout>
#include <QMainWindow>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

CTarvexView::CTarvexView(CFrameLink* pFrame, QWidget* pParent)
    : QWidget(pParent), m_wndMessageLine(this), m_pFrame(pFrame)
{
    setFont(DialogFont());
    const CDialogUnits units(font());
    m_pPlaceholder = new QFrame(this);
    m_pPlaceholder->setFrameStyle(QFrame::Box | QFrame::Plain);
    QPalette pal = m_pPlaceholder->palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    m_pPlaceholder->setPalette(pal);
    m_pPlaceholder->setGeometry(units.Rect(0, 0, 500, 373));
    m_wndMessageLine.setGeometry(units.Rect(4, 373, 495, 23));
    m_wndMessageLine.lower();
}

void CTarvexView::FitPlaceholderToSheet()
{
    // The pages are laid out in their own, larger font: where this platform's faces make a
    // page larger than the placeholder, the placeholder and the form grow by the difference,
    // so that no control of a page is cut off.
    const CDialogUnits units(font());
    const QSize described = units.Rect(0, 0, 500, 373).size();
    const QSize needed = m_pPropertySheet->sizeHint().expandedTo(described);
    m_growth = needed - described;
    m_pPlaceholder->setGeometry(QRect(QPoint(0, 0), needed));
    m_wndMessageLine.setGeometry(units.Rect(4, 373, 495, 23).translated(0, m_growth.height()));
    setMinimumSize(FormSize());
}

// The sheet's pages save their settings as they go; the sheet goes with the view.
CTarvexView::~CTarvexView() = default;

QSize CTarvexView::FormSize() const
{
    return CDialogUnits(font()).Rect(0, 0, 500, 398).size() + m_growth;
}

void CTarvexView::ResizeParentToFit()
{
    auto* pFrame = qobject_cast<QMainWindow*>(window());
    if (!pFrame)
        return;
    if (pFrame->layout())
        pFrame->layout()->activate();
    // Shrink only: a frame with more room than the form gives it back, a smaller one stays.
    // The room is the frame's client area (the view may sit in a scroll area, sized later).
    const QWidget* pClient = pFrame->centralWidget() ? pFrame->centralWidget() : this;
    const QSize form = FormSize();
    const int dx = std::max(0, pClient->width() - form.width());
    const int dy = std::max(0, pClient->height() - form.height());
    if (dx || dy)
        pFrame->resize(pFrame->width() - dx, pFrame->height() - dy);
}

void CTarvexView::OnInitialUpdate()
{
    if (m_pPropertySheet) {
        ResizeParentToFit();
        return;
    }

    m_pSheetOwner = std::make_unique<CMyPropertySheet>(QStringLiteral("Tarvex"), m_pPlaceholder, 0, m_pFrame);
    m_pPropertySheet = m_pSheetOwner.get();
    // The frame fits the form once the form knows the sheet's size: a shrink-only fit made
    // before would leave a form that grew with scroll bars.
    FitPlaceholderToSheet();
    ResizeParentToFit();
    m_pPropertySheet->Create();
    m_pPropertySheet->setGeometry(QRect(QPoint(0, 0), m_pPlaceholder->size()));

    m_wndMessageLine.PreSubclassWindow();
    m_wndMessageLine.SetBackgroundColor(Qt::black);
    WriteBanner();
    m_pPropertySheet->SetActivePage(0);
    m_pPropertySheet->SetActivePage(1);
}

void CTarvexView::WriteBanner()
{
    m_wndMessageLine.clear();
    CRichTextWriter writer;
    writer << rtfFontSize(42) << rtfBold(true) << rtfGreen << "Tarvex Emulator program" << rtfWriteTo(m_wndMessageLine);
}

void CTarvexView::ShowStatus(const std::string& text)
{
    if (text == m_strStatus)
        return;
    m_strStatus = text;
    if (text.empty()) {
        WriteBanner();
        return;
    }
    // Smaller than the banner, so that a whole sentence fits the line.
    m_wndMessageLine.clear();
    CRichTextWriter writer;
    writer << rtfFontSize(28) << rtfBold(true) << rtfGreen << text.c_str() << rtfWriteTo(m_wndMessageLine);
}

void CTarvexView::OnFilePrint()
{
    QPrinter printer;
    QPrintDialog dialog(&printer, window());
    if (dialog.exec() != QDialog::Accepted)
        return;
    QPainter painter(&printer); // one blank page
}

void CTarvexView::OnFilePrintPreview()
{
    QPrintPreviewDialog preview(window());
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, [](QPrinter* pPrinter) {
        QPainter painter(pPrinter);
    });
    preview.exec();
}
