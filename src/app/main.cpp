// tarvex: the desktop control program of the USB EPROM emulator.
#include "app/tarvexapp.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv)
{
    Q_INIT_RESOURCE(tarvex);
    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarvex.png")));
    CTarvexApp theApp;
    QStringList args = QApplication::arguments();
    args.removeFirst();
    if (!theApp.InitInstance(args))
        return 1;
    return QApplication::exec();
}
