// Creates the form with the control, hands it a server address and prints what it shows.
#include <QApplication>
#include <QWidget>
#include <cstdio>

#include "eftmemb/eftmemb_widget.h"
#include "ui_host_form.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    Ui::HostForm form;
    form.setupUi(&window);
    form.eftMemb->setVariables(QStringLiteral("http://127.0.0.1:1/eft/"), 9, 2);
    QWidget* load = form.eftMemb->elementWidget(QStringLiteral("cmdLoadData"));
    std::printf("EFTMemb %s person %d type %d load %s\n", qPrintable(form.eftMemb->version()),
                form.eftMemb->personId(), form.eftMemb->personType(), load ? "present" : "missing");
    return load && form.eftMemb->personId() == 9 ? 0 : 1;
}
