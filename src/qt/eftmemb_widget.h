#pragma once
// EftMembWidget: the EFTMemb control as a Qt widget. It owns one control core, builds the
// fixed screen from the layout data (8820 by 6240 twips, scaled to the screen's resolution)
// and binds every widget to its element model: the operator's input reaches the core as the
// element's event, and the core's changes reach the widgets in one batch per event.
//
// A host creates it, calls setVariables with the server base address and the operator, and
// leaves the rest to the operator. Message boxes are modal, unless a handler answers them.
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "control/host_services.h"

namespace eft {
class EFTMemb;
struct ControlOptions;
}

namespace eft::qt {

class EftMembWidget : public QWidget {
    Q_OBJECT
    // The SetVariables values, as properties for forms designed in Qt Designer.
    Q_PROPERTY(QString serverAddress READ serverAddress WRITE setServerAddress)
    Q_PROPERTY(int personId READ personId WRITE setPersonId)
    Q_PROPERTY(int personType READ personType WRITE setPersonType)
    Q_PROPERTY(QString version READ version STORED false)

public:
    using MessageBoxHandler = std::function<MsgAnswer(const MessageBoxRequest&)>;

    explicit EftMembWidget(QWidget* parent = nullptr);
    ~EftMembWidget() override;

    // SetVariables: the server base address (ending with "/"), the operator's person id and
    // person type (a 16-bit value). Stores them and puts the focus on "&Load Data".
    void setVariables(const QString& server, int personId, int personType);

    QString serverAddress() const;
    void setServerAddress(const QString& server);
    int personId() const;
    void setPersonId(int personId);
    int personType() const;
    void setPersonType(int personType);
    // "2.0.7": the library version shown on the two version labels.
    QString version() const;

    eft::EFTMemb& control();

    // The widget showing an element, by the element's name; option buttons by name and index.
    QWidget* elementWidget(const QString& name, int index = -1) const;

    // The control's transfer limits (timeouts, reply cap, CA bundle), for requests from now on.
    void setControlOptions(const eft::ControlOptions& options);

    // Answers the control's message boxes instead of showing them; empty restores the boxes.
    void setMessageBoxHandler(MessageBoxHandler handler);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    struct Private;
    std::unique_ptr<Private> d_;
};

}  // namespace eft::qt

// Forms designed in Qt Designer name the control by its class name, EFTMemb; the code uic
// generates for them uses that name.
using EFTMemb = eft::qt::EftMembWidget;
