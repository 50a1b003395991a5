// The lists the options dialog edits itself (relay servers, relay domains, event sounds)
// and the sub-dialogs on working copies, driven through the widgets of the dialog and of
// the editors it opens.
#include <QComboBox>
#include <QMimeDatabase>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "OptionsDriver.h"
#include "UiTestSupport.h"
#include "engine/settings/VexaBase.h"
#include "support/TestEnv.h"
#include "ui/common/FileTypes.h"
#include "ui/options/AccessCtrl.h"
#include "ui/options/AttFilter.h"
#include "ui/options/EditSMTP.h"
#include "ui/options/FROMAddrSet.h"
#include "ui/options/FormOptions.h"
#include "ui/options/MailDomain.h"
#include "ui/options/SSIPBind.h"

namespace {
const QString Duplicate = "The duplicate entry already exists in list.";

// A short, valid WAV file (8-bit mono silence).
std::string Wav() {
  auto U32 = [](uint32_t V) { return std::string{char(V), char(V >> 8), char(V >> 16), char(V >> 24)}; };
  auto U16 = [](uint16_t V) { return std::string{char(V), char(V >> 8)}; };
  const std::string Samples(800, char(0x80));
  return "RIFF" + U32(36 + Samples.size()) + "WAVEfmt " + U32(16) + U16(1) + U16(1) + U32(8000) + U32(8000) + U16(1) +
         U16(8) + "data" + U32(Samples.size()) + Samples;
}
}  // namespace

class TestFormOptionsLists : public QObject, TOptionsFixture {
  Q_OBJECT

  // Applies with one unrelated change, so that the lists are written as they stand.
  void ApplyOther(QWidget* F) {
    Press(Control<QCheckBox>(F, "CBAutoStartServer"));
    Press(Control<QPushButton>(F, "BtnApply"));
  }
  static std::function<void(TFormEditSMTPItem&)> Server(const QString& Host, const QString& Port) {
    return [=](TFormEditSMTPItem& D) {
      Enter(D.EditRelaySMTPHost, Host);
      Type(D.RSERelaySMTPPort, Port);
      Press(D.BtnOK);
    };
  }
  static std::function<void(TFormMailDomain&)> Domain(const QString& Text) {
    return [=](TFormMailDomain& D) {
      Enter(D.EditDomain, Text);
      Press(D.BtnOK);
    };
  }

private slots:
  void initTestCase() { QuietSizeHintNotes(); }
  void init() { Start(); }
  void cleanup() { Stop(); }

  void RelayListReadWithItsToleranceAndWrittenBack() {
    Settings("\"RelaySMTPList\"=\"a.test:587:me@test:1:user:pw:x.test|y.test;five:25::0::;b.test:abc:::::;"
             "   :25::0:::;c.test:25::0:u:p:f:with:colons;d.test:0025::2:::;\"\r\n");
    auto F = Open();
    auto* List = Control<QTreeWidget>(F.get(), "LVSMTPList");
    QCOMPARE(Column(List, 0), QStringList({"a.test", "b.test", "c.test", "d.test"}));
    QCOMPARE(Column(List, 1), QStringList({"587", "25", "25", "25"}));
    QCOMPARE(List->headerItem()->text(0), QString("Host"));
    QCOMPARE(List->headerItem()->text(1), QString("Port"));
    ApplyOther(F.get());
    QCOMPARE(::RelaySMTPList.get(),
             std::string("a.test:587:me@test:1:user:pw:x.test|y.test;b.test:25::0:::;c.test:25::0:u:p:f:with:colons;"
                         "d.test:25::0:::"));
  }

  void WellFormedRelayListIsWrittenBackByteForByte() {
    const std::string Value = "relay1.test:25:me@test:1:user:pw:a.test|b@test;relay2.test:465::0:::;"
                              "relay1.test:25:me@test:1:user:pw:a.test|b@test";
    Settings("\"RelaySMTPList\"=\"" + Value + "\"\r\n");
    auto F = Open();
    QCOMPARE(Control<QTreeWidget>(F.get(), "LVSMTPList")->topLevelItemCount(), 3);  // equal entries stay
    ApplyOther(F.get());
    QVERIFY(Stored("\"RelaySMTPList\"=\"" + Value + "\""));
  }

  void RelayServersAddEditRemoveMove() {
    Settings("\"RelayToSMTP\"=dword:00000001\r\n\"RelaySMTPList\"=\"a.test:25::0:::;b.test:25::0:::\"\r\n");
    auto F = Open();
    QWidget* W = F.get();
    auto* List = Control<QTreeWidget>(W, "LVSMTPList");
    auto Btn = [&](const char* N) { return Control<QPushButton>(W, N); };

    // Moving past either end does nothing.
    Select(List, 0);
    Press(Btn("BtnSMTPUp"));
    Select(List, 1);
    Press(Btn("BtnSMTPDown"));
    QCOMPARE(Column(List, 0), QStringList({"a.test", "b.test"}));
    QVERIFY(!F->Modified());

    QVERIFY(WhileModal<TFormEditSMTPItem>(Btn("BtnSMTPAdd"), Server("c.test", "2525")));
    QCOMPARE(Column(List, 0), QStringList({"a.test", "b.test", "c.test"}));
    QCOMPARE(Column(List, 1), QStringList({"25", "25", "2525"}));
    QVERIFY(F->Modified());
    QCOMPARE(List->selectedItems().value(0), List->topLevelItem(1));  // the new row is not selected

    // A server equal to a row in every field is refused and the editor stays open.
    QVERIFY(!WhileModal<TFormEditSMTPItem>(Btn("BtnSMTPAdd"), Server("a.test", "25")));
    QCOMPARE(Texts(), QStringList({Duplicate}));
    QCOMPARE(List->topLevelItemCount(), 3);
    Boxes->Boxes.clear();

    // Editing: the button and the double click; the row shows the new values.
    Select(List, 1);
    QVERIFY(WhileModal<TFormEditSMTPItem>(Btn("BtnSMTPEdit"), Server("b2.test", "587")));
    QCOMPARE(Column(List, 0), QStringList({"a.test", "b2.test", "c.test"}));
    QCOMPARE(Column(List, 1), QStringList({"25", "587", "2525"}));
    Select(List, 1);
    QVERIFY(!WhileModal<TFormEditSMTPItem>(Btn("BtnSMTPEdit"), Server("c.test", "2525")));
    QCOMPARE(Texts(), QStringList({Duplicate}));
    bool Seen = false;
    QTimer Timer;
    Timer.setSingleShot(true);
    connect(&Timer, &QTimer::timeout, [&] {
      if (auto* D = qobject_cast<TFormEditSMTPItem*>(QApplication::activeModalWidget())) {
        Seen = D->EditRelaySMTPHost->text() == "a.test";
        Press(D->BtnCancel);
      }
    });
    const QRect Row0 = List->visualItemRect(List->topLevelItem(0));
    QTest::mouseClick(List->viewport(), Qt::LeftButton, Qt::NoModifier, Row0.center());
    Timer.start(0);
    QTest::mouseDClick(List->viewport(), Qt::LeftButton, Qt::NoModifier, Row0.center());
    QVERIFY(Seen);

    // Moving carries the record with the row and selects it.
    Select(List, 2);
    Press(Btn("BtnSMTPUp"));
    QCOMPARE(Column(List, 0), QStringList({"a.test", "c.test", "b2.test"}));
    QCOMPARE(List->selectedItems().value(0), List->topLevelItem(1));
    Press(Btn("BtnSMTPUp"));
    QCOMPARE(Column(List, 0), QStringList({"c.test", "a.test", "b2.test"}));
    Press(Btn("BtnSMTPDown"));
    Press(Btn("BtnSMTPDown"));
    QCOMPARE(Column(List, 0), QStringList({"a.test", "b2.test", "c.test"}));

    Select(List, 0);
    Press(Btn("BtnSMTPRemove"));
    QCOMPARE(Column(List, 0), QStringList({"b2.test", "c.test"}));
    QVERIFY(List->selectedItems().isEmpty());
    Press(Btn("BtnSMTPRemove"));  // nothing selected: nothing happens
    QCOMPARE(List->topLevelItemCount(), 2);

    QVERIFY(Registry().find("b2.test") == std::string::npos);  // nothing saved before apply
    Press(Btn("BtnApply"));
    QVERIFY(Stored("\"RelaySMTPList\"=\"b2.test:587::0:::;c.test:2525::0:::\""));
  }

  // Only a command that changed the list marks the dialog modified.
  void RelayCommandsThatChangeNothingLeaveTheDialogUnmodified() {
    Settings("\"RelayToSMTP\"=dword:00000001\r\n\"RelaySMTPList\"=\"a.test:25::0:::\"\r\n");
    auto F = Open();
    QWidget* W = F.get();
    auto* List = Control<QTreeWidget>(W, "LVSMTPList");
    auto Btn = [&](const char* N) { return Control<QPushButton>(W, N); };
    const auto Cancel = [](TFormEditSMTPItem& D) { Press(D.BtnCancel); };

    QVERIFY(WhileModal<TFormEditSMTPItem>(Btn("BtnSMTPAdd"), Cancel));
    Select(List, 0);
    QVERIFY(WhileModal<TFormEditSMTPItem>(Btn("BtnSMTPEdit"), Cancel));
    QVERIFY(WhileModal<TFormEditSMTPItem>(Btn("BtnSMTPEdit"), [](TFormEditSMTPItem& D) { Press(D.BtnOK); }));
    List->clearSelection();
    List->setCurrentItem(nullptr);
    for (const char* N : {"BtnSMTPEdit", "BtnSMTPRemove", "BtnSMTPUp", "BtnSMTPDown"}) Press(Btn(N));
    QCOMPARE(Column(List, 0), QStringList({"a.test"}));
    QVERIFY(!F->Modified());
    QCOMPARE(Texts(), QStringList());
  }

  // Every field counts: a server that differs only in its password is another server.
  void ServersDifferingOnlyInThePasswordAreNoDuplicates() {
    Settings("\"RelayToSMTP\"=dword:00000001\r\n\"RelaySMTPList\"=\"a.test:25::1:user:one:\"\r\n");
    auto F = Open();
    auto Add = [&](const QString& Password) {
      return WhileModal<TFormEditSMTPItem>(Control<QPushButton>(F.get(), "BtnSMTPAdd"), [&](TFormEditSMTPItem& D) {
        Enter(D.EditRelaySMTPHost, "a.test");
        Press(D.CBRelaySMTPAuth);
        Enter(D.EditRelaySMTPUsername, "user");
        Enter(D.EditRelaySMTPPassword, Password);
        Press(D.BtnOK);
      });
    };
    QVERIFY(!Add("one"));
    QCOMPARE(Texts(), QStringList({Duplicate}));
    QVERIFY(Add("two"));
    Press(Control<QPushButton>(F.get(), "BtnApply"));
    QVERIFY(Stored("\"RelaySMTPList\"=\"a.test:25::1:user:one:;a.test:25::1:user:two:\""));
  }

  void RelayDomainsSortedWithoutCaseAndEdited() {
    Settings("\"RelayToSMTP\"=dword:00000001\r\n\"RelayDomains\"=dword:00000001\r\n"
             "\"RelayDomainList\"=\"z.test;;  ;B.test;a.test\"\r\n");
    auto F = Open();
    QWidget* W = F.get();
    auto* List = Control<QTreeWidget>(W, "LVRelayDomainList");
    auto Btn = [&](const char* N) { return Control<QPushButton>(W, N); };
    QCOMPARE(Column(List, 0), QStringList({"a.test", "B.test", "z.test"}));

    QVERIFY(!WhileModal<TFormMailDomain>(Btn("BtnRelayDomainAdd"), Domain("b.test")));
    QCOMPARE(Texts(), QStringList({Duplicate}));
    QVERIFY(!F->Modified());

    QVERIFY(WhileModal<TFormMailDomain>(Btn("BtnRelayDomainAdd"), Domain("m.test")));
    QCOMPARE(Column(List, 0), QStringList({"a.test", "B.test", "m.test", "z.test"}));
    QCOMPARE(List->selectedItems().value(0)->text(0), QString("m.test"));
    QVERIFY(F->Modified());

    Select(List, 3);
    QVERIFY(WhileModal<TFormMailDomain>(Btn("BtnRelayDomainEdit"), Domain("c.test")));
    QCOMPARE(Column(List, 0), QStringList({"a.test", "B.test", "c.test", "m.test"}));

    Select(List, 0);
    Press(Btn("BtnRelayDomainRemove"));
    QCOMPARE(Column(List, 0), QStringList({"B.test", "c.test", "m.test"}));
    Press(Btn("BtnApply"));
    QVERIFY(Stored("\"RelayDomainList\"=\"B.test;c.test;m.test\""));
  }

  void StoredDomainsAreSavedSorted() {
    Settings("\"RelayDomainList\"=\"c.test;b.test;a.test\"\r\n");
    auto F = Open();
    ApplyOther(F.get());
    QVERIFY(Stored("\"RelayDomainList\"=\"a.test;b.test;c.test\""));
  }

  void SoundRowsPlayChangeAndSave() {
    TRecordingSounds Sounds;
    TAnsweringFileDialogs Files;
    const std::string Dir = Env->ProgramDir() + "Sound/";
    for (const char* N : {"Sent.wav", "Other.wav", "Third.wav"}) Env->WriteFile(Dir + N, Wav());
    Settings("\"SndMailSent\"=\"" + Dir + "Sent.wav\"\r\n\"SndMailSentFailed\"=\"" + Dir + "Gone.wav\"\r\n");
    auto F = Open();
    QWidget* W = F.get();
    auto* List = Control<QTreeWidget>(W, "LVSoundEvent");
    auto Btn = [&](const char* N) { return Control<QPushButton>(W, N); };
    QCOMPARE(Column(List, 0), QStringList({"Mail Sent", "Mail Sent Failed"}));
    QCOMPARE(Column(List, 1), QStringList({QString::fromStdString(Dir + "Sent.wav"),
                                           QString::fromStdString(Dir + "Gone.wav")}));
    QCOMPARE(List->headerItem()->text(0), QString("Event"));
    QCOMPARE(List->headerItem()->text(1), QString("Sound File Name"));

    Press(Btn("BtnSoundPlay"));  // the first row is selected while sounds are on
    QCOMPARE(Sounds.Played, QStringList({QString::fromStdString(Dir + "Sent.wav")}));
    Select(List, 1);
    Press(Btn("BtnSoundPlay"));  // its file is gone: nothing
    QCOMPARE(Sounds.Played.size(), 1);

    Files.Answer = QString::fromStdString(Dir + "Other.wav");
    Press(Btn("BtnSoundChange"));
    QCOMPARE(Files.Requests.size(), size_t(1));
    const TOpenDialog& Asked = Files.Requests[0];
    QCOMPARE(Asked.Filter, GetFileTypeDescription("wav") + " (*.wav)|*.wav");
    QCOMPARE(Asked.DefaultExt, QString("WAV"));
    QCOMPARE(Asked.InitialDir, QString::fromStdString(Dir));
    QCOMPARE(Asked.FileName, QString());  // the row's file is gone
    QVERIFY(Asked.FileMustExist);
    QCOMPARE(List->topLevelItem(1)->text(1), Files.Answer);
    QVERIFY(F->Modified());

    // Cancelled: the row keeps its file; the dialog was preset with it.
    Files.Answer.clear();
    Select(List, 0);
    Press(Btn("BtnSoundChange"));
    QCOMPARE(Files.Requests.back().FileName, QString::fromStdString(Dir + "Sent.wav"));
    QCOMPARE(List->topLevelItem(0)->text(1), QString::fromStdString(Dir + "Sent.wav"));

    // A file that disappears before apply keeps the setting it replaced.
    Files.Answer = QString::fromStdString(Dir + "Third.wav");
    Press(Btn("BtnSoundChange"));
    std::filesystem::remove(Dir + "Third.wav");
    Press(Btn("BtnApply"));
    QVERIFY(Stored("\"SndMailSent\"=\"" + Dir + "Sent.wav\""));
    QVERIFY(Stored("\"SndMailSentFailed\"=\"" + Dir + "Other.wav\""));
  }

  void FileTypeDescriptionsAndFilters() {
    const QString Wav = QMimeDatabase().mimeTypeForFile("x.wav", QMimeDatabase::MatchExtension).comment();
    QCOMPARE(QString::fromStdString(GetFileTypeDescription("wav")), Wav);
    QCOMPARE(QString::fromStdString(GetFileTypeDescription("WAV")), Wav);
    QCOMPARE(GetFileTypeDescription(""), std::string());
    QCOMPARE(GetFileTypeDescription("qzxqzx"), std::string());
    QCOMPARE(QtFileFilter("WAV audio (*.wav)|*.wav"), QString("WAV audio (*.wav)"));
    QCOMPARE(QtFileFilter("Wav Files(*.wav)|*.wav"), QString("Wav Files (*.wav)"));
    QCOMPARE(QtFileFilter(" (*.wav)|*.wav"), QString("(*.wav)"));
    QCOMPARE(QtFileFilter("Mail (*.eml)|*.eml|Text Files (*.txt)|*.txt"), QString("Mail (*.eml);;Text Files (*.txt)"));
    QCOMPARE(QtFileFilter("Web pages|*.htm;*.html"), QString("Web pages (*.htm *.html)"));
  }

  // The real player returns at once and stays silent on a missing file or without audio.
  void RealSoundPlayerNeverFails() {
    const std::string File = Env->ProgramDir() + "Sound/Sent.wav";
    Env->WriteFile(File, Wav());
    SoundPlayer().Play(QString::fromStdString(File));
    SoundPlayer().Play(QString::fromStdString(File));
    SoundPlayer().Play(QString::fromStdString(Env->ProgramDir() + "Sound/Missing.wav"));
    QTest::qWait(50);
  }

  void SubDialogResultsReachTheRegistryOnlyOnApply() {
    TFormSMTPIPBind::LocalAddresses = [] { return std::vector<std::string>{"127.0.0.1"}; };
    Settings("\"LocalUserOnly\"=dword:00000000\r\n\"AuthByFromAddr\"=dword:00000001\r\n");
    const std::string Before = Registry();
    auto F = Open();
    QWidget* W = F.get();
    auto Btn = [&](const char* N) { return Control<QPushButton>(W, N); };

    // Cancelled inside the sub-dialog: nothing taken back.
    QVERIFY(WhileModal<TFormAttachmentFilter>(Btn("BtnAttFilter"), [](TFormAttachmentFilter& D) {
      Press(D.CBUseAttachmentFilter);
      Press(D.BtnCancel);
    }));
    QVERIFY(!F->Modified());

    QVERIFY(WhileModal<TFormAttachmentFilter>(Btn("BtnAttFilter"), [](TFormAttachmentFilter& D) {
      Press(D.CBUseAttachmentFilter);
      Press(D.BtnOK);
    }));
    QVERIFY(F->Modified());
    QVERIFY(WhileModal<TFormSMTPIPBind>(Btn("BtnIPAdrSetting"), [](TFormSMTPIPBind& D) {
      Press(D.CBSMTPMultiIPBind);
      Enter(D.CBIPAddress->lineEdit(), "127.0.0.1");
      Enter(D.EditPort, "2525");
      Press(D.BtnAdd);
      Press(D.BtnOK);
    }));
    QVERIFY(WhileModal<TFormConnectionCtrl>(Btn("BtnConnectionCtrl"), [](TFormConnectionCtrl& D) {
      Press(D.RBGrantList);
      Press(D.BtnOK);
    }));
    QVERIFY(WhileModal<TFormFROMAddrSet>(Btn("BtnFromAddrSetting"), [](TFormFROMAddrSet& D) {
      Press(D.RBDenyList);
      Press(D.BtnOK);
    }));
    QCOMPARE(Registry(), Before);
    QVERIFY(!::UseAttachmentFilter && !::SMTPMultiIPBind);

    // The working copies go into the next sub-dialog run.
    QVERIFY(WhileModal<TFormSMTPIPBind>(Btn("BtnIPAdrSetting"), [](TFormSMTPIPBind& D) {
      QVERIFY(D.CBSMTPMultiIPBind->isChecked());
      QCOMPARE(Column(D.LVIPBind, 1), QStringList({"2525"}));
      Press(D.BtnCancel);
    }));

    Press(Btn("BtnApply"));
    QCOMPARE(Texts(), QStringList());
    QVERIFY(Stored("\"UseAttachmentFilter\"=dword:00000001"));
    QVERIFY(Stored("\"SMTPMultiIPBind\"=dword:00000001"));
    QVERIFY(Stored("\"SMTPMultiIPBinds\"=\"127.0.0.1:2525\""));
    QVERIFY(Stored("\"SMTPIPUseGranted\"=dword:00000001"));
    QVERIFY(Stored("\"AuthFromUseGranted\"=dword:00000000"));
    TFormSMTPIPBind::LocalAddresses = &TFormSMTPIPBind::MachineAddresses;
  }

  void CancellingTheOptionsDropsSubDialogResults() {
    Settings("");
    const std::string Before = Registry();
    auto F = Open();
    QVERIFY(WhileModal<TFormAttachmentFilter>(Control<QPushButton>(F.get(), "BtnAttFilter"),
                                              [](TFormAttachmentFilter& D) {
                                                Press(D.CBUseAttachmentFilter);
                                                Press(D.BtnOK);
                                              }));
    Press(Control<QPushButton>(F.get(), "BtnCancel"));
    QCOMPARE(Registry(), Before);
    QVERIFY(!::UseAttachmentFilter);
    auto Again = Open();
    QVERIFY(WhileModal<TFormAttachmentFilter>(Control<QPushButton>(Again.get(), "BtnAttFilter"),
                                              [](TFormAttachmentFilter& D) {
                                                QVERIFY(!D.CBUseAttachmentFilter->isChecked());
                                                Press(D.BtnCancel);
                                              }));
  }
};

QTEST_MAIN(TestFormOptionsLists)
#include "formoptionslists_test.moc"
