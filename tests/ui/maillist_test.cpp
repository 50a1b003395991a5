// The category tree and the mail list over the window's real store: counts and rows after
// received, sent, failed, resent and deleted mails in both refresh modes, sorting, the
// mail commands, delivery progress and the event sounds.
#include <QAction>
#include <QHeaderView>
#include <QtTest>

#include "UiMailFixture.h"
#include "support/LoopbackDNS.h"
#include "support/ScriptedSmtpPeer.h"

using TIDs = std::vector<std::string>;
using TCounts = std::vector<int32_t>;

class TestMailList : public QObject {
  Q_OBJECT
  std::unique_ptr<TMailWindow> W;

  QAction* Action(const char* Name) { return W->Form->findChild<QAction*>(Name); }

private slots:
  void init() { W = std::make_unique<TMailWindow>(); }
  void cleanup() { W.reset(); }

  void CategoriesAsBuilt() {
    W->Start(true);
    QCOMPARE(W->NodeText(0), QString("Messages(0)"));
    QCOMPARE(W->NodeText(1), QString("Queue(0)"));
    QCOMPARE(W->NodeText(2), QString("Sent(0)"));
    QCOMPARE(W->NodeText(3), QString("Sent Failed(0)"));
    QCOMPARE(W->Form->CurrentCategory()->Kind, uint8_t(1));
    QVERIFY(W->Tree()->topLevelItem(0)->isExpanded());
    QStringList Captions;
    for (int I = 0; I < 8; ++I) Captions << W->Form->MailModel()->headerData(I, Qt::Horizontal, Qt::DisplayRole).toString();
    QCOMPARE(Captions, QStringList({"", "%", "Sender", "Recipient", "Subject", "Size", "Receive Date", "Sent Date"}));
    QList<int> Widths;
    for (int I = 0; I < 8; ++I) Widths << W->List()->header()->sectionSize(I);
    QCOMPARE(Widths, QList<int>({20, 40, 120, 120, 150, 100, 100, 100}));
  }

  // The same story in message mode, with the window hidden, and with a category of 200
  // mails or more; in both timer modes nothing moves until the timer's pass.
  void CountsAndRowsFollowTheStore_data() {
    QTest::addColumn<bool>("Shown");
    QTest::addColumn<int>("Extra");
    QTest::newRow("message mode") << true << 0;
    QTest::newRow("timer mode, hidden") << false << 0;
    QTest::newRow("timer mode, 200 mails") << true << 200;
  }
  void CountsAndRowsFollowTheStore() {
    QFETCH(bool, Shown);
    QFETCH(int, Extra);
    W->Start(Shown);
    // Held mails fill the queue category without being handed out for delivery. (A hold
    // is a change in place: the root keeps counting them, as its notices say.)
    for (int I = 0; I < Extra; ++I)
      W->Store().ChangeMailState(W->Add({.To = "held" + std::to_string(I) + "@held.test"}), msWaiting, msHeld);
    W->Settle();
    const int R = W->Counts()[0];
    const bool Timer = !Shown || Extra >= 200;
    QTRY_COMPARE_WITH_TIMEOUT(W->Form->TimerMode(), Timer, 3000);  // a window shown after the start takes one tick
    auto Step = [&](const TCounts& Expected) {
      QTRY_COMPARE_WITH_TIMEOUT(W->Counts(), Expected, 3000);
    };
    const int E = Extra;
    const std::string A = W->Add({.To = "a@a.test", .Subject = "first"});
    const std::string B = W->Add({.To = "b@b.test"});
    const std::string C = W->Add({.To = "c@c.test"});
    Step({R + 3, E + 3, 0, 0});
    QCOMPARE(W->Rows().size(), size_t(E + 3));
    QCOMPARE(W->Rows().back(), C);
    QCOMPARE(W->NodeText(1), QString("Queue(%1)").arg(E + 3));

    TMailData Sending = W->Take();
    QCOMPARE(Sending.ID, A);
    QTRY_COMPARE_WITH_TIMEOUT(W->Form->SendingCount(), 1, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(W->Form->MailModel()->FindMailNode(A)->State, msSending, 3000);
    QCOMPARE(W->Counts(), TCounts({R + 3, E + 3, 0, 0}));  // sending mails leave the root's count alone
    W->Done(std::move(Sending), dsDelivered);
    W->Done(W->Take(), dsAddressError);
    Step({R + 3, E + 1, 1, 1});
    QTRY_COMPARE_WITH_TIMEOUT(W->Form->SendingCount(), 0, 3000);
    QVERIFY(!W->Form->FindMailNode(A));
    QVERIFY(!W->Form->FindMailNode(B));

    W->Select(2);
    QCOMPARE(W->Rows(), TIDs({A}));
    W->Select(3);
    QCOMPARE(W->Rows(), TIDs({B}));
    QCOMPARE(W->Form->TimerMode(), !Shown);  // one failed mail: a shown window is back to messages
    W->SelectRows({B});
    Action("SIResend")->trigger();
    QVERIFY(W->Rows().empty());
    Step({R + 3, E + 2, 1, 0});
    W->Select(1);
    QCOMPARE(W->Form->MailModel()->FindMailNode(B)->State, msRequeued);

    W->SelectRows({C});
    Action("Delete1")->trigger();
    QCOMPARE(W->Rows().size(), size_t(E + 1));
    Step({R + 2, E + 1, 1, 0});
    W->Select(0);
    QCOMPARE(W->Rows().size(), size_t(2));  // the held mails are not in the root category
    QCOMPARE(W->NodeText(0), QString("Messages(%1)").arg(R + 2));
  }

  // A received mail comes through the running server; the status bar and the tray hint count it.
  void ReceivedThroughTheServerIsAppendedUnsorted() {
    W->Start(true, "\"PauseDelivery\"=dword:00000001\r\n", "127.0.0.1", true);
    const std::string First = W->Add({.Subject = "zzz"});
    W->Form->SortByColumn(4);
    W->Settle();
    SendSmtpMail(W->Port, "<smtp@client.test>", "far@far.test", "aaa");
    QTRY_COMPARE(W->Rows().size(), size_t(2));
    QCOMPARE(W->Rows().front(), First);  // appended at the end, though "aaa" sorts first
    QCOMPARE(W->Form->MailModel()->Node(1)->Sender, QString("smtp@client.test"));
    QCOMPARE(W->Counts(), TCounts({2, 2, 0, 0}));
    QVERIFY(W->Form->TrayIcon()->toolTip().contains("Received: 2"));
  }

  // Without the mend the removed notice of a row the Delete command took ends the pass.
  void RemovedNoticeWithoutRowDoesNotStallTheTimerPass() {
    W->Start(false);
    const std::string A = W->Add({.To = "a@a.test"});
    W->Settle();
    W->SelectRows({A});
    W->Form->SIDelMsgClick();
    const std::string B = W->Add({.To = "b@b.test"});
    W->Form->ProcessStoreEvents();
    QCOMPARE(W->Rows(), TIDs({B}));
    QCOMPARE(W->Counts(), TCounts({1, 1, 0, 0}));
  }

  // The removed notices of the cleared mails are taken before the recount, not after it.
  void ClearAllInTimerModeCountsOnce() {
    W->Start(false);
    W->AddThreeAndDeliver(dsDelivered, dsDelivered);
    QCOMPARE(W->Counts(), TCounts({3, 1, 2, 0}));
    W->Select(2);
    W->Boxes.Answer = true;
    Action("SIClearAll")->trigger();
    QCOMPARE(W->Boxes.Boxes.size(), size_t(1));
    QCOMPARE(W->Boxes.Boxes[0].Text, QString("Are you sure to delete all messages?"));
    QVERIFY(W->Boxes.Boxes[0].Kind == TBoxKind::Question);
    W->Settle();
    QCOMPARE(W->Counts(), TCounts({1, 1, 0, 0}));
    QVERIFY(W->Rows().empty());
  }

  void ClearAllPerCategory_data() {
    QTest::addColumn<int>("Kind");
    QTest::addColumn<TCounts>("After");
    QTest::newRow("root") << 0 << TCounts({0, 0, 0, 0});
    QTest::newRow("queue") << 1 << TCounts({2, 0, 1, 1});
    QTest::newRow("sent") << 2 << TCounts({2, 1, 0, 1});
    QTest::newRow("sent failed") << 3 << TCounts({2, 1, 1, 0});
  }
  void ClearAllPerCategory() {
    QFETCH(int, Kind);
    QFETCH(TCounts, After);
    W->Start(true);
    W->AddThreeAndDeliver(dsDelivered, dsAddressError);
    QCOMPARE(W->Counts(), TCounts({3, 1, 1, 1}));
    W->Select(Kind);
    W->Boxes.Answer = false;
    Action("Clear1")->trigger();
    QCOMPARE(W->Counts(), TCounts({3, 1, 1, 1}));  // "No" keeps everything
    W->Boxes.Answer = true;
    Action("ClearAllMessages1")->trigger();
    W->Settle();
    QCOMPARE(W->Counts(), After);
    QVERIFY(W->Rows().empty());
    W->Boxes.Boxes.clear();
    Action("SIClearAll")->trigger();
    QVERIFY(W->Boxes.Boxes.empty());  // an empty category asks nothing
  }

  // An added notice older than the category's scan must not give its mail a second row.
  void SwitchingWithPendingNoticesAddsOnce() {
    W->Start(true);
    W->Select(0);
    const std::string A = W->Add();
    W->Select(1);
    QCoreApplication::processEvents();
    W->Settle();
    QCOMPARE(W->Rows(), TIDs({A}));
    QCOMPARE(W->Counts(), TCounts({1, 1, 0, 0}));
  }

  // The row still says waiting (timer mode has not taken the change yet) while the mail
  // is being sent: Delete cuts the attempt off all the same.
  void DeleteCancelsAMailBeingSentWhateverTheRowSays() {
    TLoopbackDNS Dns;
    TScriptedSmtpPeer Mx("", 25);
    Mx.SetReply("GREETING", "");  // the attempt waits for the greeting
    Dns.SetMX("dest.test", {{10, Mx.IP()}});
    W->Start(false, "\"PauseDelivery\"=dword:00000001\r\n", Dns.Address(), true);
    const std::string A = W->Add();
    W->Settle();
    W->Timer()->stop();
    Action("MIPause")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(Mx.SessionCount(), size_t(1), 10000);
    W->Timer()->stop();
    QCOMPARE(W->Form->FindMailNode(A)->State, msWaiting);
    W->SelectRows({A});
    Action("DeleteMessage1")->trigger();
    QVERIFY(Mx.WaitClosedSessions(1, 5000));
    QVERIFY(W->Rows().empty());
    W->Settle();
    QCOMPARE(W->Counts(), TCounts({0, 0, 0, 0}));
  }

  // A selected mail deleted meanwhile is skipped; the others are resent.
  void ResendSkipsAMailDeletedMeanwhile() {
    W->Start(true);
    W->Add({.To = "a@a.test"});
    W->Add({.To = "b@b.test"});
    const std::string A = W->Deliver(dsAddressError);
    const std::string B = W->Deliver(dsAddressError);
    W->Select(3);
    QCOMPARE(W->Rows(), TIDs({A, B}));
    W->SelectRows({A, B});
    W->Store().DeleteMail(A);
    Action("N8")->trigger();
    QVERIFY(W->Boxes.Boxes.empty());
    TMailRecord Rec;
    W->Store().GetMailRecord(B, Rec);
    QCOMPARE(Rec.State, msRequeued);
    W->Settle();
    QCOMPARE(W->Counts(), TCounts({1, 1, 0, 0}));
  }

  // Removed and added again in one pass (a resend while all messages are shown, in timer
  // mode): one row, found by its ID, in its new state.
  void ResentInOnePassKeepsOneRow() {
    W->Start(false);
    W->Add();
    const std::string A = W->Deliver(dsAddressError);
    W->Select(0);
    W->Settle();
    QCOMPARE(W->Rows(), TIDs({A}));
    W->Store().ChangeMailState(A, msFailed, msWaiting);
    W->Settle();
    QCOMPARE(W->Rows(), TIDs({A}));
    QVERIFY(W->Form->FindMailNode(A));
    QCOMPARE(W->Form->FindMailNode(A)->State, msRequeued);
    QCOMPARE(W->Counts(), TCounts({1, 1, 0, 0}));
  }

  // Under the root category a mail that is delivered keeps its row, which then shows what
  // the sent or sent-failed category shows: every cell follows the record. A mail deleted
  // while it was being sent loses its row. In message mode and in one timer pass.
  void RootRowsFollowTheirRecords_data() {
    QTest::addColumn<bool>("Shown");
    QTest::addColumn<int>("Status");
    QTest::addColumn<int>("Kind");
    QTest::newRow("delivered, message mode") << true << int(dsDelivered) << 2;
    QTest::newRow("failed, message mode") << true << int(dsAddressError) << 3;
    QTest::newRow("delivered, timer mode") << false << int(dsDelivered) << 2;
    QTest::newRow("deleted while sending") << true << -1 << 0;
  }
  void RootRowsFollowTheirRecords() {
    QFETCH(bool, Shown);
    QFETCH(int, Status);
    QFETCH(int, Kind);
    W->Start(Shown);
    W->Select(0);
    const std::string A = W->Add({.To = "a@a.test"});
    const std::string B = W->Add({.To = "b@b.test"});
    W->Settle();
    QCOMPARE(W->Rows(), TIDs({A, B}));
    TMailData M = W->Take();
    W->Settle();
    QCOMPARE(W->Form->FindMailNode(A)->State, msSending);
    TMailListModel* Model = W->Form->MailModel();
    auto Cells = [&](const std::string& ID) {
      const int Row = Model->RowOf(W->Form->FindMailNode(ID));
      QStringList C;
      for (int Col = 0; Col < TMailListModel::ColumnCount; ++Col)
        C << Model->data(Model->index(Row, Col), Qt::DisplayRole).toString();
      return C << QString::number(StateImageIndex(W->Form->FindMailNode(ID)->State));
    };
    if (Status < 0) {
      W->Store().DeleteMail(A);
      W->Settle();
      QCOMPARE(W->Rows(), TIDs({B}));
      W->Done(std::move(M), dsDelivered);
      return;
    }
    W->Done(std::move(M), TDeliveryStatus(Status), 46001.5);
    W->Settle();
    QCOMPARE(W->Rows(), TIDs({A, B}));
    const QStringList Root = Cells(A);
    QCOMPARE(Root.at(8), QString::number(Kind == 2 ? 3 : 2));
    QCOMPARE(Root.at(7), Kind == 2 ? FormatListDateTime(46001.5) : QString());
    W->Select(Kind);
    QCOMPARE(Cells(A), Root);
  }

  void ResendIsIgnoredInRootAndQueue() {
    W->Start(true);
    const std::string A = W->Add();
    W->Settle();
    W->SelectRows({A});
    Action("Retry1")->trigger();
    QCOMPARE(W->Rows(), TIDs({A}));
    W->Select(0);
    W->SelectRows({A});
    Action("SIResend")->trigger();
    QCOMPARE(W->Rows(), TIDs({A}));
  }

  void SortsByEveryColumnBothWays_data() {
    QTest::addColumn<int>("Column");
    QTest::addColumn<bool>("Descending");
    QTest::addColumn<QString>("Order");
    // Column 1 compares all rows equal: they keep the order of the sort before (by size).
    const QStringList Asc = {"ABC", "BCA", "BAC", "BCA", "ACB", "BCA", "ACB", "BCA"};
    for (int C = 0; C < 8; ++C) {
      QTest::addRow("column %d ascending", C) << C << false << Asc[C];
      if (C > 1) {
        QString Rev = Asc[C];
        std::reverse(Rev.begin(), Rev.end());
        QTest::addRow("column %d descending", C) << C << true << Rev;
      }
    }
  }
  void SortsByEveryColumnBothWays() {
    QFETCH(int, Column);
    QFETCH(bool, Descending);
    QFETCH(QString, Order);
    W->Start(true);
    W->Add({.From = "<b@x.test>", .To = "c@y.test", .Subject = "alpha", .Size = 300, .Received = 46000.1});
    W->Add({.From = "<A@x.test>", .To = "a@z.test", .Subject = "Charlie", .Size = 100, .Received = 46000.3});
    W->Add({.From = "<c@x.test>", .To = "B@w.test", .Subject = "bravo", .Size = 200, .Received = 46000.2});
    const std::string A = W->Deliver(dsDelivered, 46001.3);
    const std::string B = W->Deliver(dsDelivered, 46001.1);
    const std::string C = W->Deliver(dsDelivered, 46001.2);
    W->Select(2);
    W->Form->SortByColumn(5);  // somewhere else first, so that Column is a change
    if (Column == 5) W->Form->SortByColumn(4);
    W->Form->SortByColumn(Column);
    if ((W->Form->SortDirection() != 0) != Descending) Action(Descending ? "SortOrder2" : "SortOrder1")->trigger();
    QString Got;
    for (const std::string& ID : W->Rows()) Got += ID == A ? 'A' : ID == B ? 'B' : ID == C ? 'C' : '?';
    QCOMPARE(Got, Order);
    QHeaderView* H = W->List()->header();
    QCOMPARE(H->sortIndicatorSection(), Column == 0 ? -1 : Column);
    if (Column > 0) QCOMPARE(H->sortIndicatorOrder(), Descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    for (const char* Name : {"MISort0", "MISort1", "MISort2", "MISort3", "MISort4", "MISort5", "MISort6"})
      QCOMPARE(Action(Name)->isChecked(), Action(Name)->data().toInt() == Column);
    QCOMPARE(Action("SortOrder2")->isChecked(), W->Form->SortDirection() != 0);
  }

  void HeaderClicksFlipAndColumnZeroHasNoDirection() {
    W->Start(true);
    W->Form->SortByColumn(4);
    QCOMPARE(W->Form->SortDirection(), uint8_t(0));
    W->Form->SortByColumn(4);
    QCOMPARE(W->Form->SortDirection(), uint8_t(1));
    QCOMPARE(W->List()->header()->sortIndicatorOrder(), Qt::DescendingOrder);
    W->Form->SortByColumn(0);
    QCOMPARE(W->List()->header()->sortIndicatorSection(), -1);
    QCOMPARE(W->Form->SortDirection(), uint8_t(1));  // column 0 keeps the stored direction
    W->Form->SortByColumn(0);
    QCOMPARE(W->Form->SortDirection(), uint8_t(1));
    Action("SortOrder1")->trigger();  // with column 0 only the stored direction changes
    QCOMPARE(W->Form->SortDirection(), uint8_t(0));
    QCOMPARE(W->List()->header()->sortIndicatorSection(), -1);
    W->Form->SortByColumn(9);
    QCOMPARE(W->Form->SortColumn(), 0);
  }

  // Each direction item sets its direction, so choosing it again changes nothing; a click
  // on the sorted column's header still flips it.
  void DirectionItemsSetTheirDirection() {
    W->Start(true);
    const std::string A = W->Add({.Subject = "alpha"});
    const std::string B = W->Add({.To = "b@b.test", .Subject = "bravo"});
    W->Settle();
    W->Form->SortByColumn(4);
    QHeaderView* H = W->List()->header();
    auto Verify = [&](bool Descending) {
      QCOMPARE(W->Form->SortDirection(), uint8_t(Descending ? 1 : 0));
      QCOMPARE(W->Rows(), Descending ? TIDs({B, A}) : TIDs({A, B}));
      QCOMPARE(H->sortIndicatorOrder(), Descending ? Qt::DescendingOrder : Qt::AscendingOrder);
      QCOMPARE(Action("SortOrder1")->isChecked(), !Descending);
      QCOMPARE(Action("SortOrder2")->isChecked(), Descending);
    };
    Verify(false);
    Action("SortOrder1")->trigger();
    Verify(false);
    Action("SortOrder2")->trigger();
    Verify(true);
    Action("SortOrder2")->trigger();
    Verify(true);
    Action("SortOrder1")->trigger();
    Verify(false);
    W->Form->show();
    QTest::mouseClick(H->viewport(), Qt::LeftButton, {}, QPoint(H->sectionViewportPosition(4) + 10, H->height() / 2));
    Verify(true);
  }

  // A menu click toggles a checkable item by itself; choosing the column in force again
  // (which for Queue does nothing) must still leave its item, and only it, checked.
  void SortByTheCurrentColumnAgainKeepsItsMark_data() {
    QTest::addColumn<QString>("Item");
    for (const char* Name : {"MISort0", "MISort1", "MISort2", "MISort3", "MISort4", "MISort5", "MISort6"})
      QTest::newRow(Name) << QString::fromLatin1(Name);
  }
  void SortByTheCurrentColumnAgainKeepsItsMark() {
    QFETCH(QString, Item);
    W->Start(true);
    QAction* Chosen = Action(Item.toLatin1().constData());
    const int Column = Chosen->data().toInt();
    W->Form->SortByColumn(Column == 5 ? 4 : 5);  // somewhere else first
    Chosen->trigger();
    Chosen->trigger();
    QCOMPARE(W->Form->SortColumn(), Column);
    for (const char* Name : {"MISort0", "MISort1", "MISort2", "MISort3", "MISort4", "MISort5", "MISort6"})
      QVERIFY2(Action(Name)->isChecked() == (Action(Name) == Chosen), Name);
    QCOMPARE(W->List()->header()->sortIndicatorSection(), Column == 0 ? -1 : Column);
  }

  void RowTextsAndStateImages() {
    W->Start(true);
    const std::string A = W->Add({.From = "<w\xC3\xBCrde@x.test>", .Size = 1234});
    const std::string B = W->Add({.To = "b@b.test"});
    TMailData M = W->Take();
    W->Settle();
    TMailListModel* Model = W->Form->MailModel();
    auto Text = [&](const std::string& ID, int Col) {
      return Model->data(Model->index(Model->RowOf(W->Form->FindMailNode(ID)), Col), Qt::DisplayRole).toString();
    };
    QCOMPARE(Text(A, 1), QString("0%"));
    QCOMPARE(Text(B, 1), QString());
    QCOMPARE(Text(A, 2), QString::fromUtf8("<w\xC3\xBCrde@x.test>"));
    QCOMPARE(Text(A, 5), QString("1234"));
    QCOMPARE(Text(A, 6), FormatListDateTime(46000.25));
    QCOMPARE(Text(A, 7), QString());
    QVERIFY(FormatListDateTime(46000.25).contains("06:00:00"));
    QCOMPARE(StateImageIndex(msSending), 0);
    QCOMPARE(StateImageIndex(msWaiting), 1);
    QCOMPARE(StateImageIndex(msRequeued), 1);
    QCOMPARE(StateImageIndex(msFailed), 2);
    QCOMPARE(StateImageIndex(msSent), 3);
    QCOMPARE(StateImageIndex(msHeld), -1);
    QVERIFY(!Model->data(Model->index(0, 0), Qt::DecorationRole).value<QIcon>().isNull());
    QVERIFY(Model->data(Model->index(0, 2), Qt::DecorationRole).isNull());

    // Progress reaches its own row only; log-line reports change nothing.
    W->Form->PostDeliveryProgress(A, "", 55);
    W->Form->PostDeliveryProgress(A, "250 OK", 80);
    W->Form->PostDeliveryProgress("999", "", 70);
    QTRY_COMPARE(Text(A, 1), QString("55%"));
    QCOMPARE(W->Form->FindMailNode(B)->Progress, 0);
    W->Form->hide();
    W->Form->PostDeliveryProgress(A, "", 90);
    QCoreApplication::processEvents();
    QCOMPARE(W->Form->FindMailNode(A)->Progress, 55);  // hidden: dropped
    W->Done(std::move(M), dsDelivered);
  }

  void EventSoundsFollowTheSetting() {
    W->Start(true);
    W->AddThreeAndDeliver(dsDelivered, dsAddressError);
    QCOMPARE(W->Sounds.Played, QStringList({QString::fromStdString(SndMailSent.get()),
                                            QString::fromStdString(SndMailSentFailed.get())}));
    PlayEventSound = false;
    W->Deliver(dsDelivered);
    W->Settle();
    QCOMPARE(W->Sounds.Played.size(), qsizetype(2));
    PlayEventSound = true;
  }

  // The real player returns at once: for a missing file, and for a real one whether or
  // not the machine has an audio device.
  void RealPlayerNeverWaits() {
    SetSoundPlayer(nullptr);
    SoundPlayer().Play("/nonexistent/MailSent.wav");
    SoundPlayer().Play("");
    // A tenth of a second of silence: 16-bit mono PCM at 8 kHz.
    const int Samples = 800;
    QByteArray Wav;
    auto U32 = [&](quint32 V) { for (int I = 0; I < 4; ++I) Wav += char((V >> (8 * I)) & 0xFF); };
    auto U16 = [&](quint16 V) { Wav += char(V & 0xFF), Wav += char(V >> 8); };
    Wav += "RIFF";
    U32(36 + Samples * 2);
    Wav += "WAVEfmt ";
    U32(16), U16(1), U16(1), U32(8000), U32(16000), U16(2), U16(16);
    Wav += "data";
    U32(Samples * 2);
    Wav += QByteArray(Samples * 2, '\0');
    const QString File = QString::fromStdString(W->Env.Root()) + "silence.wav";
    QFile F(File);
    QVERIFY(F.open(QIODevice::WriteOnly));
    F.write(Wav);
    F.close();
    SoundPlayer().Play(File);
    QCoreApplication::processEvents();
    SetSoundPlayer(&W->Sounds);
  }
};

QTEST_MAIN(TestMailList)
#include "maillist_test.moc"
