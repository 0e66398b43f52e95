#pragma once
// EftMembWidget: the EFTMemb control as a Qt widget. It owns one control core, builds the
// screen from the layout data (8820 by 6240 twips, scaled to the screen's resolution) and
// binds every widget to its element model: the operator's input reaches the core as the
// element's event, and the core's changes reach the widgets in one batch per event.
//
// A host creates it, calls setVariables with the server base address and the operator, and
// leaves the rest to the operator. Message boxes are modal, unless a handler answers them;
// either way every failure message is also given as errorOccurred.
//
// The design size is the smallest; given more room, the tab control and the three lists grow
// and every other element keeps its distance to the nearest edge of its container.
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include <eftmemb/control.h>

namespace eft::qt {

class EftMembWidget : public QWidget {
    Q_OBJECT
    // The SetVariables values, as properties for forms designed in Qt Designer.
    Q_PROPERTY(QString serverAddress READ serverAddress WRITE setServerAddress NOTIFY serverAddressChanged)
    Q_PROPERTY(int personId READ personId WRITE setPersonId NOTIFY personIdChanged)
    Q_PROPERTY(int personType READ personType WRITE setPersonType NOTIFY personTypeChanged)
    Q_PROPERTY(QString version READ version CONSTANT)

public:
    using MessageBoxHandler = std::function<MsgAnswer(const MessageBoxRequest&)>;

    explicit EftMembWidget(QWidget* parent = nullptr);
    ~EftMembWidget() override;

    // SetVariables: the server base address (ending with "/"), the operator's person id and
    // person type (a 16-bit value). Stores them and puts the focus on "&Load Data". A person
    // type outside -32768..32767 is refused: false, and nothing changes. An address without
    // a login keeps the credentials set before.
    bool setVariables(const QString& server, int personId, int personType);

    // The server base address without its credentials: safe to show and to log.
    QString serverAddress() const;
    void setServerAddress(const QString& server);
    // The login sent with every request (HTTP Basic); write-only, never shown or signalled.
    // An empty user name removes it.
    void setServerCredentials(const QString& user, const QString& password);
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

Q_SIGNALS:
    void serverAddressChanged(const QString& serverAddress);
    void personIdChanged(int personId);
    void personTypeChanged(int personType);

    // Every failure message the control shows, after its box (or instead of it, when a
    // handler answers the boxes).
    void errorOccurred(const QString& message);
    // A country's sweep (1 United States, 2 Canada) was loaded: its rows, and the center list.
    void sweepLoaded(int country, int rows);
    // The server accepted a save of that many member rows.
    void saved(int rows);
    // The server's report of an export.
    void exported(const QString& report);
    // The server accepted a status commit: the batch, and the member ids reported cleared and
    // failed.
    void batchCommitted(int batch, int cleared, int failed);
    // Another tab shows, chosen by the operator or by the control.
    void tabChanged(int index);
    // The control waits for a transfer and ignores the operator's input (true), or no longer.
    void busyChanged(bool busy);
    // Bytes of the reply received so far; total is -1 while the server has not said.
    void transferProgress(qint64 received, qint64 total);

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Tab and Shift+Tab go through the elements of the tab showing and the tab strip.
    bool focusNextPrevChild(bool next) override;

private:
    struct Private;
    std::unique_ptr<Private> d_;
};

}  // namespace eft::qt
