#pragma once
// A started main window over its own real store in a private data folder, with helpers
// that put mails into that store and move them on the way the delivery engine does.
#include <QCoreApplication>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "UiTestSupport.h"
#include "engine/settings/VexaBase.h"
#include "support/LineClient.h"
#include "support/LoopbackSockets.h"
#include "support/TestEnv.h"
#include "ui/common/EventSounds.h"
#include "ui/main/FormMain.h"

// One mail through the SMTP server on 127.0.0.1:Port; the server's last reply.
inline std::string SendSmtpMail(int Port, const std::string& From, const std::string& To, const std::string& Subject) {
  TLineClient C(Port);
  C.Read();
  C.Cmd("HELO client.test");
  C.Cmd("MAIL FROM:" + From);
  C.Cmd("RCPT TO:<" + To + ">");
  C.Cmd("DATA");
  const std::string Reply = C.Cmd("Subject: " + Subject + "\r\n\r\nbody\r\n.");
  C.Cmd("QUIT");
  return Reply;
}

struct TMailSpec {
  std::string From = "<writer@client.test>";
  std::string To = "reader@dest.test";
  std::string Subject = "Hello";
  int32_t Size = 42;
  TDateTime Received = 46000.25;
};

class TMailWindow {
public:
  TTestEnv Env;
  TRecordingBoxes Boxes;
  TRecordingSounds Sounds;
  std::unique_ptr<TFormMain> Form;
  int Port = FreeLoopbackPort();

  // Settings first (More: registry lines), then the window; Shown: the window is shown.
  void Start(bool Shown, const std::string& More = "", const std::string& Dns = "127.0.0.1", bool AutoStart = false) {
    WriteWindowSettings(Env, Port, Dns, AutoStart, More);
    RetrySend = false;
    SendNotifyMail = false;
    Form = std::make_unique<TFormMain>(true);
    Form->Initialize();
    QCoreApplication::processEvents();
    if (Shown) {
      // The start chose timer mode (the window was hidden then); choosing the queue again
      // while shown goes back to message mode at once instead of after the first tick.
      Form->show();
      Select(0);
      Select(1);
      QCoreApplication::processEvents();
    }
  }

  TMailStore& Store() { return *Form->MailStore(); }

  std::string Add(const TMailSpec& S = {}) {
    TMailData M;
    M.MailFrom = S.From;
    M.Recipients = {S.To};
    M.Subject = S.Subject;
    M.Size = S.Size;
    M.ReceiveTime = S.Received;
    M.Kind = mkReceived;
    M.State = msWaiting;
    M.Data = {"Subject: " + S.Subject, "", "body"};
    Store().AddMail(M);
    return M.ID;
  }
  // Hands out the next deliverable mail as a delivery thread would get it.
  TMailData Take() {
    TMailData M;
    if (!Store().GetNextMail(M)) throw std::runtime_error("no mail to send");
    return M;
  }
  // Files the result of an attempt.
  void Done(TMailData M, TDeliveryStatus Status, TDateTime SentAt = 46001) {
    M.State = msAttemptDone;
    M.Status = Status;
    M.SentTime = SentAt;
    M.Log = {"attempt"};
    Store().MailDone(M);
  }
  std::string Deliver(TDeliveryStatus Status, TDateTime SentAt = 46001) {
    TMailData M = Take();
    const std::string ID = M.ID;
    Done(std::move(M), Status, SentAt);
    return ID;
  }

  // Three mails to three domains, the first two delivered with Results.
  void AddThreeAndDeliver(TDeliveryStatus First, TDeliveryStatus Second) {
    for (const char* To : {"a@a.test", "b@b.test", "c@c.test"}) Add({.To = To});
    Deliver(First);
    Deliver(Second);
    Settle();
  }

  QTreeWidget* Tree() { return Form->findChild<QTreeWidget*>("TVCategory"); }
  QTreeView* List() { return Form->findChild<QTreeView*>("VTMails"); }
  QTimer* Timer() { return Form->findChild<QTimer*>("TimerRefresh"); }
  void Select(int Kind) {
    QTreeWidgetItem* Root = Tree()->topLevelItem(0);
    Tree()->setCurrentItem(Kind == 0 ? Root : Root->child(Kind - 1));
  }
  QString NodeText(int Kind) {
    QTreeWidgetItem* Root = Tree()->topLevelItem(0);
    return (Kind == 0 ? Root : Root->child(Kind - 1))->text(0);
  }
  std::vector<int32_t> Counts() {
    std::vector<int32_t> C;
    for (int K = 0; K < 4; ++K) C.push_back(Form->Category(K).Count);
    return C;
  }
  // The IDs of the rows in list order.
  std::vector<std::string> Rows() {
    std::vector<std::string> R;
    for (int I = 0; I < Form->MailModel()->rowCount(); ++I) R.push_back(Form->MailModel()->Node(I)->MailID);
    return R;
  }
  void SelectRows(const std::vector<std::string>& IDs) {
    List()->clearSelection();
    for (const std::string& ID : IDs) {
      TMailNodeData* Node = Form->FindMailNode(ID);
      if (!Node) throw std::runtime_error("no row for mail " + ID);
      const int Row = Form->MailModel()->RowOf(Node);
      List()->selectionModel()->select(Form->MailModel()->index(Row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  }
  // Takes every queued notice now, whichever refresh mode the window is in.
  void Settle() {
    QCoreApplication::processEvents();
    Form->ProcessStoreEvents();
  }
};
