// SPDX-License-Identifier: MIT
// CPropertyPage: a page of the property sheet, with dialog-unit layout and data exchange.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

#include <vector>

class QLineEdit;
class QRadioButton;

// Dialog units of a font: a horizontal unit is a quarter of the average character width,
// a vertical unit an eighth of the character height.
class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);
    int X(int nUnits) const;
    int Y(int nUnits) const;
    QRect Rect(int x, int y, int cx, int cy) const;

    int m_nBaseX = 0; // average character width in pixels
    int m_nBaseY = 0; // character height in pixels
};

// The program's dialog face at a size in points: 9 for the form, the emulator bar and the
// About box, 10 for the property pages. A Korean-capable sans serif whose Latin letters are
// narrow enough that a page of 490 units at 10 points fits the form's 500 units at 9.
QFont DialogFont(int nPointSize = 9);
// The font of the property pages.
QFont PageFont();

// Edit fields as compact as the platform's: a thin border and no inner padding, so that eight
// hex digits fit the reference widths.
void MakeCompactEdit(QLineEdit* pEdit);

// One run of moving data between members and controls. When saving, the first failed check
// shows its message, puts the focus on its control and turns every later exchange into a no-op.
class CDataExchange {
public:
    explicit CDataExchange(bool bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate) {}
    void Fail(QWidget* pControl, const QString& strMessage);
    bool Failed() const { return m_pFailed != nullptr; }
    QWidget* FailedControl() const { return m_pFailed; }

    const bool m_bSaveAndValidate;

private:
    QWidget* m_pFailed = nullptr;
};

// Gives a control whose check failed the focus; an edit field gets its text selected.
void FocusFailedControl(QWidget* pControl);

void DDX_Text(CDataExchange& dx, QLineEdit* pEdit, QString& value);
// Unsigned decimal; blanks around the number are accepted.
void DDX_Text(CDataExchange& dx, QLineEdit* pEdit, unsigned& value);
// Loading sets the typing limit; saving checks the length.
void DDV_MaxChars(CDataExchange& dx, QLineEdit* pEdit, const QString& value, int nChars);
void DDV_MinMaxUInt(CDataExchange& dx, QLineEdit* pEdit, unsigned value, unsigned nMin, unsigned nMax);
// Index of the checked button of a group, -1 when none; loading an index outside the group
// checks none.
void DDX_Radio(CDataExchange& dx, const std::vector<QRadioButton*>& buttons, int& value);

class CPropertyPage : public QWidget {
    Q_OBJECT
public:
    explicit CPropertyPage(const QString& strCaption, QWidget* pParent = nullptr);
    ~CPropertyPage() override;

    QString Caption() const { return m_strCaption; }
    // Moves members to the controls (false) or reads and checks them (true); false on a failed check.
    bool UpdateData(bool bSaveAndValidate);
    // The first activation initialises the dialog; later ones write the members again.
    virtual void OnSetActive();
    // Leaving the page reads and checks it; false keeps the page in front.
    virtual bool OnKillActive();
    bool IsInitialized() const { return m_bInitialized; }
    // The control whose check failed in the last reading of the page, or null.
    QWidget* FailedControl() const { return m_pFailed; }
    // Both pages are 490 by 350 units of their own font, or more where a control had to be
    // widened for this platform's fonts.
    QSize sizeHint() const override;
    const CDialogUnits& Units() const { return m_units; }

protected:
    virtual void DoDataExchange(CDataExchange& dx) = 0;
    virtual bool OnInitDialog();
    QRect DlgRect(int x, int y, int cx, int cy) const { return m_units.Rect(x, y, cx, cy); }

    CDialogUnits m_units;

private:
    QString m_strCaption;
    bool m_bInitialized = false;
    QWidget* m_pFailed = nullptr;
};
