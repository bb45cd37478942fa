#include "vexilo/ui/MainWindow.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Vexilo"));
    QApplication::setApplicationName(QStringLiteral("VexiloDesktop"));
    vexilo::MainWindow window;
    window.show();
    return QApplication::exec();
}
