#pragma once
// The program's windows against the simulated unit on a pseudo-terminal, with
// time shortened a hundredfold. Message n reads "m<n>".

#include "core/AppState.h"
#include "screens/frmSet.h"
#include "serial/ReplyTimer.h"
#include "widgets/Ui.h"
#include "shell/frmMain.h"
#include "shell/modMain.h"
#include "sim/SimPeer.h"
#include "support/GuiSupport.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

struct ScreenRig {
    FreshState st;
    SimPeer peer;
    std::unique_ptr<frmMain> main;

    ScreenRig()
    {
        TimeScale::set(0.01);
        Ui::installPortErrorBox();
        QFile::link(peer.slavePath(), st.dir() + "COM1");
        AppState &s = app();
        st.usePort(1);
        for (int n = 0; n < AppState::TableSize - 1; ++n) {
            s.MessageTable[n] = QStringLiteral("m%1").arg(n);
            s.DispNameTable[n] = QStringLiteral("d%1").arg(n);
        }
        for (int n = 0; n < 28; ++n)
            s.FrhTable[n] = QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
        main = std::make_unique<frmMain>();
        main->show();
        ModalWatcher portFailure; // a port that fails to open fails the test, not hangs it
        main->Form_Load();
    }
    ~ScreenRig()
    {
        main.reset();
        TimeScale::set(1.0);
    }

    frmSet *screen() const { return main->settingsScreen(); }

    // Opens the settings screen in wired-path mode and runs the idle loop
    // until the unit has answered the link poll.
    frmSet *openLinked()
    {
        QTest::mouseClick(main->Cmd_Wireless, Qt::LeftButton);
        idleUntil([&] { return app().WatchMode == 0; });
        QTest::qWait(20);
        peer.clearReceived();
        return screen();
    }
    frmSet *openRegisterMode()
    {
        QTest::mouseClick(main->Cmd_FRH, Qt::LeftButton);
        peer.clearReceived();
        return screen();
    }

    // Idle loop passes until `done`, for at most `ms`. A watch that never
    // ended would keep the loop inside one pass: at the deadline the exit is
    // confirmed for a moment, which ends every wait.
    bool idleUntil(const std::function<bool()> &done, int ms = 3000)
    {
        QElapsedTimer t;
        t.start();
        QTimer wake; // keeps each blocking pass short
        wake.start(5);
        bool late = false;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, [&] {
            late = true;
            app().ExitConfirmed = true;
        });
        deadline.start(ms + 500);
        while (!done()) {
            if (late || t.elapsed() > ms)
                break;
            IdlePass(*main);
        }
        if (late) { // forced to end: whatever it waited for did not happen by itself
            app().ExitConfirmed = false;
            return false;
        }
        return done();
    }
};

inline QColor baseColour(QWidget *w) { return w->palette().color(QPalette::Base); }
