#pragma once
// What a screen reader is told of a window's controls: each named by the
// caption the operator sees beside it.

#include <QList>
#include <QString>

#include <initializer_list>
#include <utility>

class QWidget;

namespace Ui {

// Captions (dispname.ini) of controls that have none on screen.
enum AccessibleCaption {
    MessagesCaption = 110, // a message line with nothing said yet
    LinkIndicator,         // the settings screen's red/green square
    RegisterValue,         // the register editor's value box
    UnitsTable,            // the network and handover windows' units
    PortOfUnit,            // "%1": the unit's name
    CommandToSend,         // the traffic console's send box
    EntriesTable,          // the site book's list of entries
    TrafficTable,          // the traffic console's lines
    SettingsTable,         // an entry's settings before and after
    PlanText,              // the network plan's text
    DateOf,                // "%1": the check box's caption beside the date
};

// `caption` as a name: without its accelerator's & and a closing colon.
QString plainCaption(const QString &caption);

// A control named by the caption beside it (a list box would otherwise be
// named by the item it shows); the line of an editable box too.
void nameAfter(QWidget *control, const QString &caption);

// Object names by which Tab's stops are told apart (the tests name them so).
void setNames(std::initializer_list<std::pair<QWidget *, const char *>> widgets);

// Tab goes from each to the next, where the order they were made in is not
// the order they are read in.
void tabInOrder(const QList<QWidget *> &widgets);

// `text` as a tooltip shown as it is, markup and all.
QString plainTip(const QString &text);

} // namespace Ui
