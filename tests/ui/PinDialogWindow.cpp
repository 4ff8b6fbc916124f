// A stand-in for the system's smart-card PIN dialog, run as a program of its own: a window
// with the title given and, unless "nofield" is given, a password field. It prints "ready"
// once shown, and "enter:<text>" whenever Enter is pressed in the field; the window stays.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        return 2;
    }
    QDialog dialog;
    dialog.setWindowTitle(QString::fromUtf8(argv[1]));
    QVBoxLayout layout(&dialog);
    QLabel prompt(QStringLiteral("PIN"));
    layout.addWidget(&prompt);
    QLineEdit field;
    field.setEchoMode(QLineEdit::Password);
    field.setAccessibleName(QStringLiteral("PIN"));
    if (argc < 3 || std::strcmp(argv[2], "nofield") != 0) {
        layout.addWidget(&field);
    } else {
        field.hide();
    }
    QObject::connect(&field, &QLineEdit::returnPressed, [&field] {
        std::printf("enter:%s\n", field.text().toUtf8().constData());
        std::fflush(stdout);
    });
    dialog.show();
    QTimer::singleShot(0, [] {
        std::printf("ready\n");
        std::fflush(stdout);
    });
    return app.exec();
}
