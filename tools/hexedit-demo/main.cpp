// SPDX-License-Identifier: MIT
// hexedit-demo: a window holding only the hex editor, for looking at it (and screenshots).
// Usage: hexedit-demo [FILE]   shows FILE (or a built-in sample) with a small selection made.
#include "hexedit/hexedit.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

std::vector<std::uint8_t> Sample()
{
    std::vector<std::uint8_t> v(1024);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<std::uint8_t>(i * 7);
    const char text[] = "Tarvex hex editor: address, hex and ASCII columns.\r\n";
    std::memcpy(v.data() + 0x20, text, sizeof text - 1);
    return v;
}

void Press(QWidget* w, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QKeyEvent e(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(w, &e);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::vector<std::uint8_t> data = Sample();
    if (argc > 1) {
        QFile f(QString::fromLocal8Bit(argv[1]));
        if (!f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "hexedit-demo: cannot open %s: %s\n", argv[1], qPrintable(f.errorString()));
            return 1;
        }
        const QByteArray b = f.read(1 << 20);
        data.assign(b.begin(), b.end());
    }

    CHexEdit editor;
    editor.setWindowTitle(QStringLiteral("Tarvex hex editor"));
    editor.resize(620, 330);
    editor.SetOptions(true, true, true, true);
    editor.SetData(data.data(), static_cast<int>(data.size()));
    editor.Redraw();
    editor.show();
    editor.setFocus();

    // Caret to byte 0x23 and select four bytes from there with Shift+Right.
    Press(&editor, Qt::Key_Down);
    Press(&editor, Qt::Key_Down);
    for (int i = 0; i < 6; ++i)
        Press(&editor, Qt::Key_Right);
    for (int i = 0; i < 7; ++i)
        Press(&editor, Qt::Key_Right, Qt::ShiftModifier);
    return app.exec();
}
