// Creates the designed form with the control, hands it a server address and prints what it
// shows; the embedded server's header and library come from the same installed prefix.
#include <QAbstractButton>
#include <QApplication>
#include <QWidget>
#include <cstdio>
#include <eftmemb/control.h>
#include <eftmemb/eftmemb_widget.h>
#include <eftmemb/embedded_server.h>

#include "ui_host_form.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    Ui::HostForm form;
    form.setupUi(&window);
    const bool designed = form.eftMemb->personId() == 4 &&
                          form.eftMemb->serverAddress() == QStringLiteral("http://127.0.0.1:1/designed/");
    form.eftMemb->setVariables(QStringLiteral("http://127.0.0.1:1/eft/"), 9, 2);
    QWidget* load = form.eftMemb->elementWidget(QStringLiteral("cmdLoadData"));
    eft::server::EmbeddedOptions options;  // the type is there; no server is started
    // The installed library carries its translations.
    form.eftMemb->setLanguage(QStringLiteral("fr"));
    const auto* button = qobject_cast<QAbstractButton*>(load);
    std::printf("EFTMemb %s person %d type %d load %s designed %s listen %s language %s caption %s\n",
                qPrintable(form.eftMemb->version()), form.eftMemb->personId(), form.eftMemb->personType(),
                load ? "present" : "missing", designed ? "yes" : "no", options.listenHost.c_str(),
                qPrintable(form.eftMemb->language()), button ? qPrintable(button->text()) : "none");
    return load && designed && form.eftMemb->personId() == 9 ? 0 : 1;
}
