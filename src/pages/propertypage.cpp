// SPDX-License-Identifier: MIT
// Dialog units, data exchange and the page base.
#include "pages/propertypage.h"

#include "pages/messagebox.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QRadioButton>
#include <QValidator>

#include <cmath>

CDialogUnits::CDialogUnits(const QFont& font)
{
    const QFontMetrics fm(font);
    static const QString s_alphabet =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_nBaseX = (fm.horizontalAdvance(s_alphabet) / 26 + 1) / 2;
    m_nBaseY = fm.height();
}

// Rounds like the platform's dialog mapping (multiply, then divide with rounding).
static int MulDiv(int a, int b, int c)
{
    return int(std::lround(double(a) * b / c));
}

int CDialogUnits::X(int nUnits) const { return MulDiv(nUnits, m_nBaseX, 4); }
int CDialogUnits::Y(int nUnits) const { return MulDiv(nUnits, m_nBaseY, 8); }

QRect CDialogUnits::Rect(int x, int y, int cx, int cy) const
{
    const int left = X(x), top = Y(y);
    return QRect(left, top, X(x + cx) - left, Y(y + cy) - top);
}

QFont DialogFont(int nPointSize)
{
    QFont font;
    // NanumSquare averages 7 pixels a letter at both 9 and 10 points, so pages and form share
    // one horizontal unit; the others are wider at 10 points and the form then has to grow.
    font.setFamilies({QStringLiteral("NanumSquare"), QStringLiteral("NanumGothic"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("DejaVu Sans")});
    font.setPointSize(nPointSize);
    return font;
}

QFont PageFont()
{
    return DialogFont(10);
}

void MakeCompactEdit(QLineEdit* pEdit)
{
    pEdit->setStyleSheet(QStringLiteral(
        "QLineEdit { padding: 0px 1px; border: 1px solid #7a7a7a; background: white; }"
        "QLineEdit:disabled { background: #f0f0f0; color: #6d6d6d; }"));
}

void CDataExchange::Fail(QWidget* pControl, const QString& strMessage)
{
    if (m_pFailed)
        return;
    m_pFailed = pControl;
    TarvexMessageBox(pControl ? pControl->window() : nullptr, strMessage);
    FocusFailedControl(pControl);
}

void FocusFailedControl(QWidget* pControl)
{
    if (!pControl)
        return;
    pControl->setFocus(Qt::OtherFocusReason);
    // With the bad value selected, typing replaces it.
    if (auto* pEdit = qobject_cast<QLineEdit*>(pControl))
        pEdit->selectAll();
}

void DDX_Text(CDataExchange& dx, QLineEdit* pEdit, QString& value)
{
    if (dx.Failed())
        return;
    if (dx.m_bSaveAndValidate)
        value = pEdit->text();
    else
        pEdit->setText(value);
}

void DDX_Text(CDataExchange& dx, QLineEdit* pEdit, unsigned& value)
{
    if (dx.Failed())
        return;
    if (!dx.m_bSaveAndValidate) {
        pEdit->setText(QString::number(value));
        return;
    }
    const QString text = pEdit->text().trimmed();
    bool bOk = !text.isEmpty();
    for (QChar c : text)
        bOk = bOk && c >= u'0' && c <= u'9';
    const unsigned long long n = bOk ? text.toULongLong(&bOk) : 0;
    if (!bOk || n > 0xFFFFFFFFull) {
        dx.Fail(pEdit, QStringLiteral("Please enter a positive integer."));
        return;
    }
    value = unsigned(n);
}

namespace {

// Typing limit that, unlike QLineEdit's maximum length, leaves a longer text set by the
// program whole, so that the length check can report it.
class CMaxCharsValidator : public QValidator {
public:
    CMaxCharsValidator(int nChars, QObject* pParent) : QValidator(pParent), m_nChars(nChars) {}
    State validate(QString& input, int&) const override
    {
        return input.size() > m_nChars ? Invalid : Acceptable;
    }
    int m_nChars;
};

} // namespace

void DDV_MaxChars(CDataExchange& dx, QLineEdit* pEdit, const QString& value, int nChars)
{
    if (dx.Failed())
        return;
    if (!dx.m_bSaveAndValidate) {
        auto* pLimit = dynamic_cast<const CMaxCharsValidator*>(pEdit->validator());
        if (!pLimit || pLimit->m_nChars != nChars)
            pEdit->setValidator(new CMaxCharsValidator(nChars, pEdit));
        return;
    }
    if (value.size() > nChars)
        dx.Fail(pEdit, QStringLiteral("Please enter no more than %1 characters.").arg(nChars));
}

void DDV_MinMaxUInt(CDataExchange& dx, QLineEdit* pEdit, unsigned value, unsigned nMin, unsigned nMax)
{
    if (dx.Failed() || !dx.m_bSaveAndValidate)
        return;
    if (value < nMin || value > nMax)
        dx.Fail(pEdit, QStringLiteral("Please enter an integer between %1 and %2.").arg(nMin).arg(nMax));
}

void DDX_Radio(CDataExchange& dx, const std::vector<QRadioButton*>& buttons, int& value)
{
    if (dx.Failed())
        return;
    if (dx.m_bSaveAndValidate) {
        value = -1;
        for (size_t i = 0; i < buttons.size(); ++i)
            if (buttons[i]->isChecked())
                value = int(i);
        return;
    }
    for (size_t i = 0; i < buttons.size(); ++i) {
        // Auto-exclusive buttons refuse to uncheck the last checked one.
        QRadioButton* pButton = buttons[i];
        pButton->setAutoExclusive(false);
        pButton->setChecked(int(i) == value);
    }
    for (QRadioButton* pButton : buttons)
        pButton->setAutoExclusive(true);
}

CPropertyPage::CPropertyPage(const QString& strCaption, QWidget* pParent)
    : QWidget(pParent), m_units(PageFont()), m_strCaption(strCaption)
{
    setFont(PageFont());
}

CPropertyPage::~CPropertyPage() = default;

QSize CPropertyPage::sizeHint() const
{
    // The reference layout keeps a margin of 7 units right of its widest control.
    const QRect used = childrenRect();
    const QSize extent(used.right() + 1 + m_units.X(7), used.bottom() + 1 + m_units.Y(7));
    return m_units.Rect(0, 0, 490, 350).size().expandedTo(used.isEmpty() ? QSize() : extent);
}

bool CPropertyPage::UpdateData(bool bSaveAndValidate)
{
    CDataExchange dx(bSaveAndValidate);
    DoDataExchange(dx);
    if (bSaveAndValidate)
        m_pFailed = dx.FailedControl();
    return !dx.Failed();
}

bool CPropertyPage::OnInitDialog()
{
    UpdateData(false);
    return true;
}

void CPropertyPage::OnSetActive()
{
    if (!m_bInitialized) {
        m_bInitialized = true;
        OnInitDialog();
    } else {
        UpdateData(false);
    }
}

bool CPropertyPage::OnKillActive()
{
    return UpdateData(true);
}
