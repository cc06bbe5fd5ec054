#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setOrganizationName("Kantelo");
    app.setApplicationName("Kantelo");
    QMainWindow window;
    window.setWindowTitle("Kantelo");
    window.resize(1200, 800);
    window.show();
    return app.exec();
}
