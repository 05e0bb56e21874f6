#pragma once
// The network plan's format, told once: `network --help` and the manual
// page's NETWORK PLAN section are both written from it.

#include <QList>
#include <QString>
#include <QStringList>

namespace Cli {

struct PlanKey {
    QString key;    // "format", or a section's heading: "[network]"
    QString values; // what it takes: "1", "0-23", "master|slave"
    QString text;
};

struct PlanFormat {
    QString intro;
    QList<PlanKey> keys;   // each section's heading, then its keys
    QStringList rules;     // one paragraph each
    QString exampleIntro;
    QString example;       // a whole plan, without its comments
};

const PlanFormat &NetworkPlanFormat();

} // namespace Cli
