// The download window against a loopback HTTP server of the test: a complete download
// handed to the desktop and the program ended, a package nothing on the desktop opens (the
// system's own opener missing, failing, crashing or never returning), a cut or refused
// transfer, Cancel during the transfer and before it, a server that stalls, a quit during
// the transfer, the "qvu" names beside an old file that cannot go, and an update folder
// that is not ours.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "UiTestSupport.h"
#include "UpdateTestSupport.h"
#include "WindowTestSupport.h"
#include "engine/settings/VexaBase.h"
#include "support/LoopbackHttpServer.h"
#include "support/LoopbackSockets.h"
#include "support/TestEnv.h"
#include "ui/common/QuitSignals.h"
#include "ui/main/FormMain.h"
#include "ui/update/AutoUpdate.h"
#include "ui/update/HttpClient.h"
#include "ui/update/UpdateBase.h"

Q_DECLARE_METATYPE(THttpAnswer)

namespace {
const char* const Path = "/releases/Quillon_9.0.0.1.deb";
const char* const FileName = "Quillon_9.0.0.1.deb";

std::string Package(size_t Size) {
  std::string S(Size, '\0');
  for (size_t I = 0; I < Size; ++I) S[I] = char('A' + I * 7 % 26);
  return S;
}
// Should a transfer not end by itself, the server finishes it after a while, so that the
// fault shows as a failed test rather than one that never ends.
struct TReleaseLater {
  explicit TReleaseLater(TLoopbackHttpServer& Server) {
    Timer.setSingleShot(true);
    QObject::connect(&Timer, &QTimer::timeout, [this, &Server] {
      Released = true;
      Server.Release();
    });
    Timer.start(10000);
  }
  QTimer Timer;
  bool Released = false;
};
}  // namespace

class TestUpdateDownload : public QObject {
  Q_OBJECT
  std::unique_ptr<TTestEnv> Env;
  std::unique_ptr<TLoopbackHttpServer> Server;
  std::unique_ptr<TRecordingBoxes> Boxes;
  std::unique_ptr<TRecordingDesktop> Desktop;
  std::unique_ptr<TRecordingUpdateHost> Host;

  std::string Folder() { return Env->CacheHome() + "quillon/onlineupdate/"; }

  // Runs the download window of the release at Path to its end.
  std::unique_ptr<TFormUpdate> Run(std::function<void(TFormUpdate&)> Before = nullptr) {
    auto F = std::make_unique<TFormUpdate>(nullptr, TAvailableRelease{"9.0.0.1", Server->URL(Path)});
    if (Before) Before(*F);
    F->StartUpdate();
    return F;
  }
  QString Text(TFormUpdate& F, const char* Label) { return F.findChild<QLabel*>(Label)->text(); }

  // The server and the tray icon back, the program still running; Opened: the files handed
  // to the desktop meanwhile.
  void VerifyRestored(size_t Opened = 0) {
    QCOMPARE(Host->Stops, 1);
    QCOMPARE(Host->Starts, 1);
    QVERIFY(Host->Running);
    QCOMPARE(Host->Tray, std::vector<bool>({false, true}));
    QCOMPARE(Host->Quits, 0);
    QCOMPARE(Desktop->Opened.size(), Opened);
  }

  // The real main window, its server running, with the update windows' host its own.
  std::unique_ptr<TFormMain> StartMainWindow() {
    Host.reset();
    const int Port = FreeLoopbackPort();
    char Settings[512];
    std::snprintf(Settings, sizeof Settings,
                  "[HKEY_CURRENT_USER\\Software\\Nimbrel\\Quillon Pro]\r\n\"WizardAlreadyRun\"=dword:00000001\r\n\"AutoStartServer\"=dword:00000001\r\n"
                  "\"SMTPPort\"=dword:%08x\r\n\"SMTPMultiIPBind\"=dword:00000001\r\n\"SMTPMultiIPBinds\"=\"127.0.0.1:%d\"\r\n"
                  "\"AutoDetectDNS\"=dword:00000000\r\n\"DNSPrimary\"=\"127.0.0.1\"\r\n\"DNSSecondary\"=\"127.0.0.1\"\r\n",
                  Port, Port);
    Env->WriteRegistry(Settings);
    InitSettings();
    SetLastCheckVersionDate(Date());
    auto Main = std::make_unique<TFormMain>(false);
    Main->Initialize();
    return Main;
  }

private slots:
  void init() {
    Env = std::make_unique<TTestEnv>();
    Server = std::make_unique<TLoopbackHttpServer>();
    Boxes = std::make_unique<TRecordingBoxes>();
    Desktop = std::make_unique<TRecordingDesktop>();
    Host = std::make_unique<TRecordingUpdateHost>();
  }
  void cleanup() {
    HttpTimeouts() = THttpTimeouts();
    OpenerTimeLimitMs() = DefaultOpenerTimeLimitMs;
    Host.reset();
    Desktop.reset();
    Boxes.reset();
    Server.reset();
    Env.reset();
  }

  void CompleteDownloadIsInstalled() {
    const std::string Body = Package(3 * 65536 + 123);
    THttpAnswer A;
    A.Body = Body;
    A.HoldAfter = 65536;
    Server->Answer(Path, A);
    bool Seen = false;
    auto F = Run([&](TFormUpdate& U) {
      QCOMPARE(U.windowTitle(), QString("Auto Update"));
      QCOMPARE(Text(U, "LabelTimeRemaining"), QString("0:00:00"));
      WhenReady([&] { return Text(U, "LabelProgress").startsWith("64 KB/"); }, [&] {
        Seen = true;
        QCOMPARE(Text(U, "LabelDownloadFile"), QString("Quillon Pro 9.0.0.1 update file"));
        QCOMPARE(Text(U, "LabelProgress"), QString("64 KB/") + TFormUpdate::FormatOneDecimal(Body.size() / 1024.0) + " KB");
        QCOMPARE(Host->Stops, 1);
        QCOMPARE(Host->Tray, std::vector<bool>({false}));
        SaveScreenshot(&U, "update-download");
        Server->Release();
      });
    });
    QVERIFY(Seen);
    QVERIFY(Boxes->Boxes.empty());
    const std::string File = Folder() + FileName;
    QCOMPARE(Desktop->Opened, std::vector<QUrl>({QUrl::fromLocalFile(QString::fromStdString(File))}));
    QCOMPARE(Env->ReadFile(File), Body);
    QCOMPARE(Host->Quits, 1);
    QCOMPARE(Host->Starts, 0);
    QVERIFY(!F->isVisible());
    struct stat St;
    QCOMPARE(::stat(Folder().c_str(), &St), 0);
    QCOMPARE(St.st_mode & 0777, mode_t(0700));
  }

  // The file came, but nothing on the desktop opens it: the user learns where it is, and
  // the program stays with its server running.
  void NothingOpensThePackage() {
    Server->Answer(Path, THttpAnswer{200, "OK", Package(5000)});
    Desktop->Accept = false;
    auto F = Run();
    const std::string File = Folder() + FileName;
    QCOMPARE(Desktop->Opened, std::vector<QUrl>({QUrl::fromLocalFile(QString::fromStdString(File))}));
    QCOMPARE(Boxes->Boxes.size(), size_t(1));
    QCOMPARE(Boxes->Boxes[0].Kind, TBoxKind::Error);
    QCOMPARE(Boxes->Boxes[0].Text, QString::fromStdString("Can not open the downloaded update file " + File +
                                                          ". Please install it by hand."));
    QCOMPARE(Env->ReadFile(File), Package(5000));
    VerifyRestored(1);
    QVERIFY(!F->isVisible());
  }

  void FailedDownload_data() {
    QTest::addColumn<THttpAnswer>("Answer");
    QTest::addColumn<QString>("Message");
    THttpAnswer Short;
    Short.Body = Package(400);
    Short.Announced = 1000;
    QTest::newRow("short") << Short
                           << "Error to get the update file. Error: Incomplete transfer: 400 of 1000 bytes received";
    THttpAnswer Missing;
    Missing.Status = 404;
    Missing.Reason = "Not Found";
    Missing.Body = "gone";
    QTest::newRow("404") << Missing << "Error to get the update file. Error: HTTP/1.1 404 Not Found";
  }

  void FailedDownload() {
    QFETCH(THttpAnswer, Answer);
    QFETCH(QString, Message);
    Server->Answer(Path, Answer);
    auto F = Run();
    QCOMPARE(Boxes->Boxes.size(), size_t(1));
    QCOMPARE(Boxes->Boxes[0].Kind, TBoxKind::Error);
    QCOMPARE(Boxes->Boxes[0].Text, Message);
    VerifyRestored();
    QVERIFY(!F->isVisible());
  }

  // A server that sends nothing for the stall time-out fails the download, whether it never
  // answers or stops in the middle of the file.
  void StalledServer_data() {
    QTest::addColumn<bool>("Midway");
    QTest::addColumn<QString>("Message");
    QTest::newRow("never answers") << false
                                   << "Error to get the update file. Error: Operation timed out after 300 milliseconds "
                                      "with nothing received";
    QTest::newRow("stops midway") << true
                                  << "Error to get the update file. Error: Incomplete transfer: 1000 of 200000 bytes "
                                     "received";
  }
  void StalledServer() {
    QFETCH(bool, Midway);
    QFETCH(QString, Message);
    HttpTimeouts().StallMs = 300;
    THttpAnswer A;
    A.Body = Package(200000);
    if (Midway)
      A.HoldAfter = 1000;
    else
      A.HoldBeforeHeaders = true;
    Server->Answer(Path, A);
    const TReleaseLater Later(*Server);
    auto F = Run();
    QVERIFY(!Later.Released);
    QCOMPARE(Boxes->Boxes.size(), size_t(1));
    QCOMPARE(Boxes->Boxes[0].Text, Message);
    VerifyRestored();
  }

  // SIGTERM while the file comes (the session's end takes the same path): the transfer ends
  // at once, nothing is installed or asked, the server stays stopped, the program ends.
  void QuitDuringTheTransfer() {
    auto MainWindow = StartMainWindow();
    TFormMain& Main = *MainWindow;
    TQuitSignals Quit;
    connect(&Quit, &TQuitSignals::Received, &Main, [&Main] { Main.QuitProgram(); });
    THttpAnswer A;
    A.Body = Package(200000);
    A.HoldAfter = 1000;
    Server->Answer(Path, A);
    const TReleaseLater Later(*Server);
    TFormUpdate F(&Main, TAvailableRelease{"9.0.0.1", Server->URL(Path)});
    WhenReady([&] { return !Text(F, "LabelProgress").isEmpty(); }, [] { ::kill(::getpid(), SIGTERM); });
    F.StartUpdate();
    QVERIFY(Main.Quitting());
    QVERIFY(!Later.Released);
    QVERIFY(Desktop->Opened.empty());
    QVERIFY(Boxes->Boxes.empty());
    QVERIFY(!Main.ServerRunning());
    // The quit ended every event loop of the thread; one of the application's own lets the
    // tests after this one run theirs.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCOMPARE(QCoreApplication::exec(), 0);
  }

  void NoServerIsAFailedDownload() {
    auto F = std::make_unique<TFormUpdate>(nullptr, TAvailableRelease{"9.0.0.1", "http://127.0.0.1:1/Quillon.deb"});
    F->StartUpdate();
    QCOMPARE(Boxes->Boxes.size(), size_t(1));
    QVERIFY(Boxes->Boxes[0].Text.startsWith("Error to get the update file. Error: "));
    VerifyRestored();
  }

private:
  // The server stops after the first bytes; Cancel is pressed once the transfer has begun.
  void CancelMidway(bool Answer) {
    THttpAnswer A;
    A.Body = Package(200000);
    A.HoldAfter = 1000;
    Server->Answer(Path, A);
    Boxes->Answer = Answer;
    Run([&](TFormUpdate& U) {
      WhenReady([&] { return !Text(U, "LabelProgress").isEmpty(); }, [&] {
        QTest::mouseClick(U.findChild<QPushButton*>("BtnCancel"), Qt::LeftButton);
        Server->Release();
      });
    });
  }

private slots:
  void CancelDuringTheTransfer() {
    CancelMidway(true);
    QCOMPARE(Boxes->Boxes.size(), size_t(1));
    QCOMPARE(Boxes->Boxes[0].Kind, TBoxKind::Question);
    QCOMPARE(Boxes->Boxes[0].Text,
             QString("Program is downloading the update file. Are you sure you want to cancel it?"));
    VerifyRestored();
    // The partial file stays for the next update to remove.
    QVERIFY(std::filesystem::exists(Folder() + FileName));
  }

  void CancelAnsweredNo() {
    CancelMidway(false);
    QCOMPARE(Boxes->Boxes.size(), size_t(1));
    QCOMPARE(Desktop->Opened.size(), size_t(1));
    QCOMPARE(Host->Quits, 1);
  }

  // Cancel while the download prepares or waits for the server: no question, nothing fetched.
  void CancelWhileConnecting() {
    THttpAnswer A;
    A.Body = Package(1000);
    A.HoldBeforeHeaders = true;
    Server->Answer(Path, A);
    Run([&](TFormUpdate& U) {
      WhenReady([&] { return Server->Requests(Path) == 1; },
                [&] { QTest::mouseClick(U.findChild<QPushButton*>("BtnCancel"), Qt::LeftButton); });
    });
    QVERIFY(Boxes->Boxes.empty());
    VerifyRestored();
  }

  void CancelBeforeTheDownloadBegins() {
    Server->Answer(Path, THttpAnswer{200, "OK", Package(1000)});
    Run([&](TFormUpdate& U) { QMetaObject::invokeMethod(&U, [&U] { U.BtnCancelClick(); }, Qt::QueuedConnection); });
    QCoreApplication::processEvents();
    QCOMPARE(Server->Requests(Path), 0);
    QVERIFY(Boxes->Boxes.empty());
    VerifyRestored();
  }

  void ServerThatWasStoppedStaysStopped() {
    Host->Running = false;
    Server->Answer(Path, THttpAnswer{404, "Not Found", ""});
    Run();
    QCOMPARE(Host->Stops, 0);
    QCOMPARE(Host->Starts, 0);
    QCOMPARE(Host->Tray, std::vector<bool>({false, true}));
  }

  // An old file goes; one that cannot go (here a folder of the same name) is avoided by a
  // "qvu" prefix, once more for each name that is taken.
  void EarlierFilesOfTheSameName() {
    Server->Answer(Path, THttpAnswer{200, "OK", Package(5000)});
    Env->WriteFile(Folder() + FileName, "old package");
    Run();
    QCOMPARE(Env->ReadFile(Folder() + FileName), Package(5000));

    // The recorders put themselves in and take themselves out: the old ones go first.
    Host.reset();
    Desktop.reset();
    Host = std::make_unique<TRecordingUpdateHost>();
    Desktop = std::make_unique<TRecordingDesktop>();
    std::filesystem::remove(Folder() + FileName);
    Env->WriteFile(Folder() + FileName + "/in-use", "x");
    Env->WriteFile(Folder() + "qvu" + FileName + "/in-use", "x");
    Run();
    const std::string Stacked = Folder() + "qvuqvu" + FileName;
    QCOMPARE(Desktop->Opened, std::vector<QUrl>({QUrl::fromLocalFile(QString::fromStdString(Stacked))}));
    QCOMPARE(Env->ReadFile(Stacked), Package(5000));
    QVERIFY(std::filesystem::exists(Folder() + FileName + "/in-use"));
  }

  // A folder another user could have put there (here a link to elsewhere) is not written to.
  void UpdateFolderThatIsNotOurs() {
    Server->Answer(Path, THttpAnswer{200, "OK", Package(100)});
    std::filesystem::create_directories(Env->CacheHome() + "quillon");
    std::filesystem::create_directories(Env->Root() + "elsewhere");
    std::filesystem::create_directory_symlink(Env->Root() + "elsewhere", Env->CacheHome() + "quillon/onlineupdate");
    bool Open = false;
    Run([&](TFormUpdate& U) {
      WhenReady([&] { return !Boxes->Boxes.empty(); }, [&] {
        Open = U.isVisible();
        QTest::mouseClick(U.findChild<QPushButton*>("BtnCancel"), Qt::LeftButton);
      });
    });
    QCOMPARE(Boxes->Boxes.at(0).Text, QString("Can't create the update temp data file."));
    // The window stayed open until Cancel.
    QVERIFY(Open);
    QCOMPARE(Server->Requests(Path), 0);
    QVERIFY(std::filesystem::is_empty(Env->Root() + "elsewhere"));
    VerifyRestored();
  }

  // The main window's own server: stopped for the download, started again after it failed
  // or when nothing opened the package.
  void MainWindowServerDuringTheDownload_data() {
    QTest::addColumn<int>("Status");
    QTest::addColumn<bool>("Opens");
    QTest::newRow("download fails") << 404 << true;
    QTest::newRow("nothing opens the package") << 200 << false;
  }
  void MainWindowServerDuringTheDownload() {
    QFETCH(int, Status);
    QFETCH(bool, Opens);
    auto MainWindow = StartMainWindow();
    TFormMain& Main = *MainWindow;
    QVERIFY(Main.ServerRunning());
    THttpAnswer Answer{Status, Status == 200 ? "OK" : "Not Found", Package(100)};
    Answer.HoldBeforeHeaders = true;
    Server->Answer(Path, Answer);
    Desktop->Accept = Opens;
    bool StoppedMeanwhile = false;
    TFormUpdate F(&Main, TAvailableRelease{"9.0.0.1", Server->URL(Path)});
    WhenReady([&] { return Server->Requests(Path) == 1; }, [&] {
      StoppedMeanwhile = !Main.ServerRunning();
      Server->Release();
    });
    F.StartUpdate();
    QVERIFY(StoppedMeanwhile);
    QVERIFY(Main.ServerRunning());
    QVERIFY(!Main.Quitting());
    QCOMPARE(Boxes->Boxes.size(), size_t(1));
  }

  // The system's own desktop with a stand-in opener first on PATH (none for "not on PATH"):
  // only an opener that ran and handed the package on ends the program; any other leaves it
  // running with its server, the file kept and named.
  void MainWindowWithTheDesktopsOpener_data() {
    QTest::addColumn<QString>("Opener");
    QTest::addColumn<int>("LimitMs");
    QTest::addColumn<bool>("Installs");
    QTest::newRow("hands the file on") << "exit 0" << 0 << true;
    QTest::newRow("fails") << "echo 'xdg-open: Unable to detect a launcher' >&2; exit 3" << 0 << false;
    QTest::newRow("crashes") << "kill -KILL $$" << 0 << false;
    QTest::newRow("never returns") << "exec /bin/sleep 30" << 1000 << false;
    QTest::newRow("not on PATH") << "" << 0 << false;
  }
  void MainWindowWithTheDesktopsOpener() {
    QFETCH(QString, Opener);
    QFETCH(int, LimitMs);
    QFETCH(bool, Installs);
    Desktop.reset();
    if (LimitMs) OpenerTimeLimitMs() = LimitMs;
    const std::string Bin = Env->Root() + "bin/", Args = Bin + "xdg-open.args";
    std::filesystem::create_directories(Bin);
    if (!Opener.isEmpty()) {
      Env->WriteFile(Bin + "xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\n" + Opener.toStdString() + "\n");
      std::filesystem::permissions(Bin + "xdg-open", std::filesystem::perms::owner_all);
    }
    // Without a stand-in nothing else on PATH may open the user's real desktop.
    const QByteArray OldPath = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(Bin) + (Opener.isEmpty() ? "" : ":" + OldPath));
    auto RestorePath = qScopeGuard([&] { qputenv("PATH", OldPath); });

    auto MainWindow = StartMainWindow();
    TFormMain& Main = *MainWindow;
    Server->Answer(Path, THttpAnswer{200, "OK", Package(100)});
    TFormUpdate F(&Main, TAvailableRelease{"9.0.0.1", Server->URL(Path)});
    // The window is still up, its Cancel idle, while the opener runs. (The check may outlive
    // this test: it holds nothing of its own.)
    auto ShownWhileOpening = std::make_shared<bool>(false);
    if (LimitMs)
      WhenReady([Args] { return std::filesystem::exists(Args); }, [Shown = ShownWhileOpening, W = QPointer(&F)] {
        *Shown = W && W->isVisible() && !W->findChild<QPushButton*>("BtnCancel")->isEnabled();
      });
    F.StartUpdate();
    // A quit ended every event loop of the thread; one of the application's own lets the
    // tests after this one run theirs.
    auto EndQuit = qScopeGuard([&Main] {
      if (!Main.Quitting()) return;
      QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
      QCoreApplication::exec();
    });

    const std::string File = Folder() + FileName;
    QVERIFY(!F.isVisible());
    if (Installs) {
      QVERIFY(Boxes->Boxes.empty());
      QVERIFY(Main.Quitting());
      QVERIFY(!Main.ServerRunning());
    } else {
      QCOMPARE(Boxes->Boxes.size(), size_t(1));
      QCOMPARE(Boxes->Boxes[0].Kind, TBoxKind::Error);
      QCOMPARE(Boxes->Boxes[0].Text, QString::fromStdString("Can not open the downloaded update file " + File +
                                                            ". Please install it by hand."));
      QVERIFY(!Main.Quitting());
      QVERIFY(Main.ServerRunning());
    }
    QCOMPARE(Env->ReadFile(File), Package(100));
    if (!Opener.isEmpty()) QCOMPARE(Env->ReadFile(Args), File + "\n");
    if (LimitMs) QVERIFY(*ShownWhileOpening);
  }

  void OneDecimal() {
    QCOMPARE(TFormUpdate::FormatOneDecimal(1024), QString("1024"));
    QCOMPARE(TFormUpdate::FormatOneDecimal(12.25), QString("12.3"));
    QCOMPARE(TFormUpdate::FormatOneDecimal(0.04), QString("0"));
    QCOMPARE(TFormUpdate::FormatOneDecimal(2047.96), QString("2048"));
  }
};

QTEST_MAIN(TestUpdateDownload)
#include "updatedownload_test.moc"
