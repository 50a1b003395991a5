// The version check against a loopback HTTP server of the test: the reply's version and
// address with every reason to refuse it, unusable update addresses, a connection that is
// never taken, the check thread's stop, two checks at once, the manual check window with
// its boxes and the new-version window, and the main window's automatic check at most once
// a calendar day.
#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "UiTestSupport.h"
#include "UpdateTestSupport.h"
#include "WindowTestSupport.h"
#include "engine/settings/VexaBase.h"
#include "support/LoopbackHttpServer.h"
#include "support/LoopbackSockets.h"
#include "support/TestEnv.h"
#include "ui/common/WindowMessages.h"
#include "ui/main/FormMain.h"
#include "ui/update/CheckVersion.h"
#include "ui/update/HttpClient.h"
#include "ui/update/NotifyUpdate.h"
#include "ui/update/UpdateBase.h"

Q_DECLARE_METATYPE(std::string)

namespace {
const char* const CheckPath = "/onlineupdate/GetVersionVexaPro.php";

// Collects the answers a check thread posts.
class TAnswers : public QObject {
public:
  bool event(QEvent* E) override {
    if (static_cast<unsigned>(E->type()) != WM_CHECKVERSIONRESULT) return QObject::event(E);
    Results.push_back(static_cast<TWindowMessage*>(E)->WParam);
    return true;
  }
  std::vector<uintptr_t> Results;
};

std::string Version(int Step) {
  TVersion V = FileVersion();
  V.Build += Step;
  return std::to_string(V.Major) + "." + std::to_string(V.Minor) + "." + std::to_string(V.Release) + "." +
         std::to_string(V.Build);
}
std::string Newer() { return Version(1); }
std::string Deb() { return "http://127.0.0.1:9/releases/Quillon_" + Newer() + ".deb"; }

THttpAnswer Reply(const std::string& Body, int Status = 200) {
  THttpAnswer A;
  A.Body = Body;
  A.Status = Status;
  A.Reason = Status == 200 ? "OK" : "Not Found";
  return A;
}
}  // namespace

class TestUpdateCheck : public QObject {
  Q_OBJECT
  std::unique_ptr<TTestEnv> Env;
  std::unique_ptr<TLoopbackHttpServer> Server;
  std::unique_ptr<TRecordingBoxes> Boxes;

  void Settings() {
    Env->WriteRegistry("[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\r\n\"WizardAlreadyRun\"=dword:00000001\r\n\"AutoStartServer\"=dword:00000000\r\n"
                       "\"AutoDetectDNS\"=dword:00000000\r\n\"DNSPrimary\"=\"127.0.0.1\"\r\n"
                       "\"DNSSecondary\"=\"127.0.0.1\"\r\n");
    InitSettings();
  }

private slots:
  void init() {
    Env = std::make_unique<TTestEnv>();
    Server = std::make_unique<TLoopbackHttpServer>();
    Boxes = std::make_unique<TRecordingBoxes>();
    qputenv("QUILLON_UPDATE_URL", QByteArray::fromStdString(Server->URL(CheckPath)));
    Settings();
    SetAvailableRelease(TAvailableRelease());
  }
  void cleanup() {
    HttpTimeouts() = THttpTimeouts();
    Boxes.reset();
    Server.reset();
    Env.reset();
  }

  void Versions() {
    auto P = [](const char* S) {
      const TVersion V = ParseVersion(S);
      return QList<int>({V.Major, V.Minor, V.Release, V.Build});
    };
    QCOMPARE(P("2.1.3.7"), QList<int>({2, 1, 3, 7}));
    QCOMPARE(P("2.1.3"), QList<int>({2, 1, 0, 0}));
    QCOMPARE(P("2"), QList<int>({0, 0, 0, 0}));
    QCOMPARE(P("2.x.3.4"), QList<int>({2, 0, 3, 4}));
    QCOMPARE(P("1.2.3.4.5"), QList<int>({1, 2, 3, 0}));
    QCOMPARE(P("-1.2.3.4"), QList<int>({-1, 2, 3, 4}));
    QVERIFY(IsNewerVersion(ParseVersion("2.1.0.5"), ParseVersion("2.1.0.4")));
    QVERIFY(!IsNewerVersion(ParseVersion("2.1.0.5"), ParseVersion("2.1.0.5")));
    QVERIFY(!IsNewerVersion(ParseVersion("2.1.0.5"), ParseVersion("2.2.0.0")));
    QVERIFY(IsNewerVersion(ParseVersion("3.0.0.0"), ParseVersion("2.9.9.9")));
    QVERIFY(!IsNewerVersion(ParseVersion("2.1.5"), ParseVersion("2.1.0.0")));
  }

  void Addresses() {
    std::string Pr, H, Pa, D, Po, B;
    ParseURL("HTTPS://user:pw@Update.Example:8443/a/b/Quillon.deb?x=1&y=2#top", Pr, H, Pa, D, Po, B);
    QCOMPARE(QList<std::string>({Pr, H, Pa, D, Po, B}),
             QList<std::string>({"HTTPS", "Update.Example", "/a/b/", "Quillon.deb", "8443", "top"}));
    ParseURL("http://[::1]:80/Quillon.deb", Pr, H, Pa, D, Po, B);
    QCOMPARE(QList<std::string>({H, Po, D}), QList<std::string>({"[::1]", "80", "Quillon.deb"}));
    ParseURL("http:///Quillon.deb", Pr, H, Pa, D, Po, B);
    QCOMPARE(H, std::string());
    QCOMPARE(UpdateFileName("http://h/p/Quillon%201.deb?x=/y#z"), std::string("Quillon 1.deb"));
    for (const char* Unsafe : {"http://h/..deb", "http://h/.hidden.deb", "http://h/a%2Fb.deb", "http://h/%2e%2e%2fx.deb",
                               "http://h/a%5Cb.deb", "http://h/a%0Ab.deb", "http://h/dir/"})
      QVERIFY2(UpdateFileName(Unsafe).empty(), Unsafe);
  }

  void Check_data() {
    QTest::addColumn<std::string>("Body");
    QTest::addColumn<int>("Status");
    QTest::addColumn<bool>("Found");
    QTest::addColumn<std::string>("Address");
    const std::string N = Newer(), D = Deb();
    QTest::newRow("newer") << N + " " + D << 200 << true << D;
    QTest::newRow("newer over https, names in capitals")
        << N + " HTTPS://127.0.0.1:9/r/Quillon.DEB" << 200 << true << std::string("HTTPS://127.0.0.1:9/r/Quillon.DEB");
    QTest::newRow("query and bookmark after the file") << N + " " + D + "?from=web#top" << 200 << true
                                                       << D + "?from=web#top";
    QTest::newRow("only the first line counts") << N + "  " + D + " \r\nignored line\r\n" << 200 << true << D;
    QTest::newRow("equal") << Version(0) + " " + D << 200 << false << std::string();
    QTest::newRow("older") << Version(-1) + " " + D << 200 << false << std::string();
    QTest::newRow("three parts parse as an older version") << "1.0.9 " + D << 200 << false << std::string();
    QTest::newRow("blank reply") << std::string("   ") << 200 << false << std::string();
    QTest::newRow("no blank") << N << 200 << false << std::string();
    QTest::newRow("blank in front, no line end") << " " + N + " " + D << 200 << false << std::string();
    QTest::newRow("bad protocol") << N + " ftp://127.0.0.1/Quillon.deb" << 200 << false << std::string();
    QTest::newRow("no host") << N + " http:///releases/Quillon.deb" << 200 << false << std::string();
    QTest::newRow("wrong extension") << N + " http://127.0.0.1/Quillon.exe" << 200 << false << std::string();
    QTest::newRow("no file name") << N + " http://127.0.0.1/releases/" << 200 << false << std::string();
    QTest::newRow("unsafe name") << N + " http://127.0.0.1/r/%2e%2e%2fQuillon.deb" << 200 << false << std::string();
    QTest::newRow("hidden name") << N + " http://127.0.0.1/r/.Quillon.deb" << 200 << false << std::string();
    QTest::newRow("error status") << N + " " + D << 404 << false << std::string();
  }

  void Check() {
    QFETCH(std::string, Body);
    QFETCH(int, Status);
    QFETCH(bool, Found);
    QFETCH(std::string, Address);
    SetAvailableRelease({"stale", "stale"});
    Server->Answer(CheckPath, Reply(Body, Status));
    TAnswers Answers;
    TCheckVersionThread T(VersionCheckURL());
    T.NotifyWindow = &Answers;
    T.Resume();
    QTRY_COMPARE(Answers.Results.size(), size_t(1));
    QCOMPARE(Answers.Results[0], uintptr_t(Found));
    const TAvailableRelease R = AvailableRelease();
    QCOMPARE(R.DownloadURL, Address);
    QCOMPARE(R.NewVersion, Found ? Newer() : std::string());
    QCOMPARE(T.Found().DownloadURL, Address);
  }

  void NoServer() {
    TAnswers Answers;
    TCheckVersionThread T("http://127.0.0.1:1/onlineupdate/GetVersionVexaPro.php");
    T.NotifyWindow = &Answers;
    T.Resume();
    QTRY_COMPARE(Answers.Results, std::vector<uintptr_t>({0}));
  }

  void UnusableAddressIsRefused_data() {
    QTest::addColumn<QString>("URL");
    QTest::newRow("blank") << " \t";
    QTest::newRow("no protocol") << "not an address";
    QTest::newRow("another protocol") << "ftp://127.0.0.1/onlineupdate/GetVersionVexaPro.php";
    QTest::newRow("no host") << "http:///onlineupdate/GetVersionVexaPro.php";
  }
  void UnusableAddressIsRefused() {
    QFETCH(QString, URL);
    try {
      TCheckVersionThread T(URL.toStdString());
      QFAIL("no exception");
    } catch (const EVersionCheckError& E) {
      QCOMPARE(QString(E.what()), QString("Error Version Check URL!"));
    }
  }

  // An update address of blanks: the automatic check logs the refusal in red and the start
  // goes on; the manual check says it in a box; either counts as today's check.
  void UnusableAddressIsAFailedCheck() {
    qputenv("QUILLON_UPDATE_URL", "   ");
    SetLastCheckVersionDate(Date() - 1);
    TFormMain Main(false);
    Main.Initialize();
    QVERIFY(!Main.VersionCheckRunning());
    QVERIFY(Boxes->Boxes.empty());
    QCoreApplication::processEvents();
    const QStringList Lines = LogLines(Main);
    QCOMPARE(Lines.value(0), QString("Error Version Check URL!"));
    QCOMPARE(LogColour(Main, 0), QString("#ff0000"));
    QVERIFY(Lines.contains("Built-in SMTP server initialized."));
    QCOMPARE(GetLastCheckVersionDate(), Date());

    SetLastCheckVersionDate(Date() - 1);
    Main.findChild<QAction*>("MICheckVersion")->trigger();
    QCOMPARE(Boxes->Boxes.size(), size_t(1));
    QCOMPARE(Boxes->Boxes[0].Kind, TBoxKind::Error);
    QCOMPARE(Boxes->Boxes[0].Text, QString("Error Version Check URL!"));
    QVERIFY(!FormCheckVersion);
    QCOMPARE(GetLastCheckVersionDate(), Date());
    QVERIFY(!Main.Quitting());
  }

  void StoppedCheckPostsNothing() {
    THttpAnswer Held = Reply(Newer() + " " + Deb());
    Held.HoldBeforeHeaders = true;
    Server->Answer(CheckPath, Held);
    TAnswers Answers;
    {
      TCheckVersionThread T(VersionCheckURL());
      T.NotifyWindow = &Answers;
      T.Resume();
      QTRY_COMPARE(Server->Requests(CheckPath), 1);
      T.Stop();
      T.WaitFor();
    }
    QCoreApplication::processEvents();
    QVERIFY(Answers.Results.empty());
    QCOMPARE(AvailableRelease().NewVersion, std::string());
  }

  // The second check waits for the first; each reports the release its own reply named, and
  // the program-wide pair is the later one's, whole.
  void TwoChecksAtOnce() {
    THttpAnswer First = Reply(Newer() + " http://127.0.0.1:9/first/Quillon.deb");
    First.HoldBeforeHeaders = true;
    Server->Answer("/first", First);
    Server->Answer("/second", Reply(Version(2) + " http://127.0.0.1:9/second/Quillon.deb"));
    TAnswers A1, A2;
    TCheckVersionThread T1(Server->URL("/first")), T2(Server->URL("/second"));
    T1.NotifyWindow = &A1;
    T2.NotifyWindow = &A2;
    T1.Resume();
    QTRY_COMPARE(Server->Requests("/first"), 1);
    T2.Resume();
    Server->Release();
    QTRY_COMPARE(A1.Results.size() + A2.Results.size(), size_t(2));
    QCOMPARE(T1.Found().NewVersion, Newer());
    QCOMPARE(T1.Found().DownloadURL, std::string("http://127.0.0.1:9/first/Quillon.deb"));
    QCOMPARE(T2.Found().NewVersion, Version(2));
    QCOMPARE(T2.Found().DownloadURL, std::string("http://127.0.0.1:9/second/Quillon.deb"));
    QCOMPARE(AvailableRelease().NewVersion, Version(2));
    QCOMPARE(AvailableRelease().DownloadURL, T2.Found().DownloadURL);
  }

  void ManualCheckWithoutNewVersion() {
    Server->Answer(CheckPath, Reply(Version(0) + " " + Deb()));
    SetLastCheckVersionDate(Date() - 3);
    TFormCheckVersion F;
    QCOMPARE(F.windowTitle(), QString("Check Latest Version"));
    QCOMPARE(F.findChild<QLabel*>("Label1")->text(),
             QString("Please wait while Quillon is checking for the latest version..."));
    F.Execute();
    QCOMPARE(Boxes->Boxes.size(), size_t(1));
    QCOMPARE(Boxes->Boxes[0].Kind, TBoxKind::Information);
    QCOMPARE(Boxes->Boxes[0].Caption, QString("Quillon"));
    QCOMPARE(Boxes->Boxes[0].Text, QString("There is no new version of Quillon Pro available."));
    QCOMPARE(GetLastCheckVersionDate(), Date());
    QVERIFY(!F.isVisible());
  }

  // A server that never takes the connection: the connect time-out fails the check, which
  // the manual check reports as it reports any failed one.
  void UnansweredConnectionIsAFailedCheck() {
    const TUnansweredPort Unanswered;
    qputenv("QUILLON_UPDATE_URL", QByteArray::fromStdString("http://127.0.0.1:" + std::to_string(Unanswered.Port()) +
                                                            CheckPath));
    HttpTimeouts().ConnectMs = 300;
    TFormCheckVersion F;
    // Should the attempt not end by itself, the window's Cancel ends the test after a while.
    QTimer::singleShot(10000, &F, [&F] { F.close(); });
    F.Execute();
    QCOMPARE(Boxes->Boxes.size(), size_t(1));
    QCOMPARE(Boxes->Boxes[0].Text, QString("There is no new version of Quillon Pro available."));
  }

  void ManualCheckFindsNewVersion() {
    Server->Answer(CheckPath, Reply(Newer() + " " + Deb()));
    TRecordingUpdateHost Host;
    TFormCheckVersion F;
    bool Shown = false;
    WhenReady([] { return FormNotifyUpdate && QApplication::activeModalWidget() == FormNotifyUpdate; }, [&] {
      Shown = true;
      QCOMPARE(FormNotifyUpdate->windowTitle(), QString("Auto Update"));
      QCOMPARE(FormNotifyUpdate->findChild<QLabel*>("LabelProduct")->text(), QString("Quillon Pro"));
      QCOMPARE(FormNotifyUpdate->findChild<QLabel*>("LabelCurrentVersion")->text(), QString::fromStdString(Version(0)));
      QCOMPARE(FormNotifyUpdate->findChild<QLabel*>("LabelNewVersion")->text(), QString::fromStdString(Newer()));
      QVERIFY(FormNotifyUpdate->findChild<QLabel*>("Label1")->font().bold());
      QVERIFY(FormNotifyUpdate->findChild<QPushButton*>("BtnUpgrade")->isDefault());
      SaveScreenshot(FormNotifyUpdate, "update-notify");
      SetLastCheckVersionDate(Date() - 1);
      // Escape is the "Remind me later" button.
      QTest::keyClick(FormNotifyUpdate, Qt::Key_Escape);
    });
    F.Execute();
    QVERIFY(Shown);
    QVERIFY(Boxes->Boxes.empty());
    // "Remind me later" makes today the last-check date again.
    QCOMPARE(GetLastCheckVersionDate(), Date());
    QCOMPARE(Host.Stops, 0);
  }

  void ManualCheckCancelled() {
    THttpAnswer Held = Reply(Newer() + " " + Deb());
    Held.HoldBeforeHeaders = true;
    Server->Answer(CheckPath, Held);
    SetLastCheckVersionDate(Date() - 1);
    {
      TFormCheckVersion F;
      WhenShown(&F, [&] {
        QTRY_COMPARE(Server->Requests(CheckPath), 1);
        SaveScreenshot(&F, "update-check");
        QTest::mouseClick(F.findChild<QPushButton*>("Button1"), Qt::LeftButton);
      });
      F.Execute();
      QVERIFY(!F.isVisible());
    }
    QVERIFY(Boxes->Boxes.empty());
    QCOMPARE(GetLastCheckVersionDate(), Date() - 1);
  }

  // A window closed while its check still runs stops and waits for the thread.
  void WindowFreedDuringCheck() {
    THttpAnswer Held = Reply(Newer() + " " + Deb());
    Held.HoldBeforeHeaders = true;
    Server->Answer(CheckPath, Held);
    auto F = std::make_unique<TFormCheckVersion>();
    F->StartCheck();
    QTRY_COMPARE(Server->Requests(CheckPath), 1);
    F.reset();
    QCoreApplication::processEvents();
    QVERIFY(Boxes->Boxes.empty());
  }

  void AutomaticCheckOnceADay() {
    Server->Answer(CheckPath, Reply(Version(0) + " " + Deb()));
    SetLastCheckVersionDate(Date() - 1 + 0.75);
    {
      TFormMain Main(false);
      Main.Initialize();
      QVERIFY(Main.VersionCheckRunning());
      QTRY_VERIFY(!Main.VersionCheckRunning());
      QCOMPARE(GetLastCheckVersionDate(), Date());
      QCOMPARE(Server->Requests(CheckPath), 1);
    }
    // The same calendar day: no second check.
    TFormMain Again(false);
    Again.Initialize();
    QVERIFY(!Again.VersionCheckRunning());
    // The automatic check says nothing when there is no new version.
    QVERIFY(Boxes->Boxes.empty());
  }

  void AutomaticCheckShowsNewVersion() {
    Server->Answer(CheckPath, Reply(Newer() + " " + Deb()));
    SetLastCheckVersionDate(0);
    TFormMain Main(false);
    bool Shown = false;
    WhenReady([] { return FormNotifyUpdate && QApplication::activeModalWidget() == FormNotifyUpdate; }, [&] {
      Shown = FormNotifyUpdate->findChild<QLabel*>("LabelNewVersion")->text() == QString::fromStdString(Newer());
      FormNotifyUpdate->reject();
    });
    Main.Initialize();
    QTRY_VERIFY(!Main.VersionCheckRunning());
    QVERIFY(Shown);
    QCOMPARE(GetLastCheckVersionDate(), Date());
  }

  void MainWindowMenuRunsTheManualCheck() {
    Server->Answer(CheckPath, Reply(Version(0) + " " + Deb()));
    SetLastCheckVersionDate(Date());
    TFormMain Main(false);
    Main.Initialize();
    QAction* A = Main.findChild<QAction*>("MICheckVersion");
    QVERIFY(A->isEnabled());
    A->trigger();
    QCOMPARE(Boxes->Boxes.size(), size_t(1));
    QCOMPARE(Boxes->Boxes[0].Text, QString("There is no new version of Quillon Pro available."));
    QVERIFY(!FormCheckVersion);
  }
};

QTEST_MAIN(TestUpdateCheck)
#include "updatecheck_test.moc"
