// A real start of the main window: a mail sent with Python's smtplib to the running server
// reaches a loopback exchanger found through a loopback DNS server, and the log pane and
// status bar follow it.
#include <QLabel>
#include <QProcess>
#include <QStatusBar>
#include <QtTest>

#include "UiTestSupport.h"
#include "support/LoopbackDNS.h"
#include "support/LoopbackSockets.h"
#include "support/ScriptedSmtpPeer.h"
#include "support/TestEnv.h"
#include "ui/main/FormMain.h"

namespace {
const char* const SendScript = R"(
import smtplib, sys
from email.message import EmailMessage
m = EmailMessage()
m["From"] = "writer@client.test"
m["To"] = "reader@dest.test"
m["Subject"] = "Hello from smtplib"
m.set_content("First line.\nSecond line.\n")
with smtplib.SMTP("127.0.0.1", int(sys.argv[1]), timeout=10) as s:
    s.send_message(m)
)";
}  // namespace

class TestEndToEnd : public QObject {
  Q_OBJECT
private slots:
  void SmtplibMailIsDelivered() {
    TTestEnv Env;
    TRecordingBoxes Boxes;
    TLoopbackDNS Dns;
    TScriptedSmtpPeer Mx("", 25);
    Dns.SetMX("dest.test", {{10, Mx.IP()}});
    const int Port = FreeLoopbackPort();
    WriteWindowSettings(Env, Port, Dns.Address(), true);
    TFormMain F(false);
    F.Initialize();
    QVERIFY(F.ServerRunning());

    QProcess Python;
    Python.start("python3", {"-c", SendScript, QString::number(Port)});
    QVERIFY(Python.waitForFinished(20000));
    QCOMPARE(Python.exitCode(), 0);

    QVERIFY(Mx.WaitClosedSessions(1, 20000));
    const auto Session = Mx.Sessions().at(0);
    QVERIFY(Session.DataComplete);
    QVERIFY(std::find(Session.Data.begin(), Session.Data.end(), "Subject: Hello from smtplib") != Session.Data.end());
    QVERIFY(std::any_of(Session.Commands.begin(), Session.Commands.end(), [](const std::string& C) {
      return C.rfind("RCPT", 0) == 0 && C.find("<reader@dest.test>") != std::string::npos;
    }));

    const QString Delivered = "Message from writer@client.test delivered to reader@dest.test successfully";
    QTRY_VERIFY_WITH_TIMEOUT(LogLines(F).contains(Delivered), 10000);
    const QStringList L = LogLines(F);
    QVERIFY(L.indexOf("New mail received. Message will deliver to reader@dest.test.") < L.indexOf(Delivered));
    QCOMPARE(LogColour(F, static_cast<int>(L.indexOf(Delivered))), QString("#008000"));
    QTRY_COMPARE(F.statusBar()->findChildren<QLabel*>().at(1)->text(), QString("Sent: 1"));
    QCOMPARE(F.statusBar()->findChildren<QLabel*>().at(0)->text(), QString("Received: 1"));
    F.QuitProgram();
  }
};

QTEST_MAIN(TestEndToEnd)
#include "endtoend_test.moc"
