#include "ui/update/CheckVersion.h"

#include <QLabel>
#include <QPushButton>

#include "engine/settings/LangFormat.h"
#include "engine/settings/VexaBase.h"
#include "ui/common/MultiLang.h"
#include "ui/common/WindowMessages.h"
#include "ui/common/ZQDiag.h"
#include "ui/update/NotifyUpdate.h"
#include "ui/update/UpdateBase.h"

TFormCheckVersion* FormCheckVersion = nullptr;

TFormCheckVersion::TFormCheckVersion(QWidget* Owner) : QDialog(Owner) {
  setObjectName(QStringLiteral("FormCheckVersion"));
  setWindowTitle(QStringLiteral("Check Latest Version"));
  setFixedSize(352, 71);
  Label1 = new QLabel(QStringLiteral("Please wait while Quillon is checking for the latest version..."), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(8, 4, 336, 34);
  Label1->setWordWrap(true);
  Label1->setAlignment(Qt::AlignCenter);
  Button1 = new QPushButton(QStringLiteral("Cancel"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(138, 41, 75, 25);
  connect(Button1, &QPushButton::clicked, this, [this] { RunGuarded([this] { Button1Click(); }); });
  FormCreate();
}

TFormCheckVersion::~TFormCheckVersion() {
  FCheckVersionThread.reset();
  if (FormCheckVersion == this) FormCheckVersion = nullptr;
}

void TFormCheckVersion::FormCreate() {
  LoadFormLanguage(this, LanguageDir() + LanguageName.get());
  FCheckingVersion = false;
}

void TFormCheckVersion::StartCheck() {
  FCheckVersionThread = std::make_unique<TCheckVersionThread>(VersionCheckURL());
  FCheckVersionThread->NotifyWindow = this;
  FCheckingVersion = true;
  FCheckVersionThread->Resume();
}

int TFormCheckVersion::Execute() {
  try {
    StartCheck();
  } catch (const EVersionCheckError& E) {
    // No check can run: said at once, and counted as today's check, as a failed one is.
    SetLastCheckVersionDate(Date());
    ErrorBox(E.what());
    return QDialog::Rejected;
  }
  return exec();
}

void TFormCheckVersion::WMCheckVersionResult(uintptr_t WParam) {
  const TAvailableRelease Found = FCheckVersionThread ? FCheckVersionThread->Found() : TAvailableRelease();
  FCheckVersionThread.reset();
  FCheckingVersion = false;
  SetLastCheckVersionDate(Date());
  hide();
  if (WParam == 1) {
    TFormNotifyUpdate Notify(this, Found);
    FormNotifyUpdate = &Notify;
    Notify.exec();
    FormNotifyUpdate = nullptr;
  } else {
    InfoBox(LangFmt(92, "Quillon Pro"));
  }
  close();
}

void TFormCheckVersion::Button1Click() { close(); }

void TFormCheckVersion::FormClose() {
  if (FCheckingVersion && FCheckVersionThread) FCheckVersionThread->Stop();
}

void TFormCheckVersion::done(int Result) {
  RunGuarded([this] { FormClose(); });
  QDialog::done(Result);
}

bool TFormCheckVersion::event(QEvent* E) {
  if (static_cast<unsigned>(E->type()) == WM_CHECKVERSIONRESULT) {
    // A stopped check's answer that was already on its way is not wanted any more.
    const uintptr_t WParam = static_cast<TWindowMessage*>(E)->WParam;
    if (FCheckingVersion) RunGuarded([&] { WMCheckVersionResult(WParam); });
    return true;
  }
  return QDialog::event(E);
}
