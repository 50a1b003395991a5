#include "ui/update/NotifyUpdate.h"

#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "engine/settings/LangDefs.h"
#include "engine/settings/VexaBase.h"
#include "ui/common/AppImages.h"
#include "ui/common/MultiLang.h"
#include "ui/common/ZQDiag.h"
#include "ui/update/AutoUpdate.h"
#include "ui/update/UpdateHost.h"

TFormNotifyUpdate* FormNotifyUpdate = nullptr;

QLabel* TFormNotifyUpdate::NewLabel(const char* Name, const char* Text, int X, int Y, int W, int H) {
  auto* L = new QLabel(QString::fromUtf8(Text), this);
  L->setObjectName(QString::fromLatin1(Name));
  L->setGeometry(X, Y, W, H);
  return L;
}

TFormNotifyUpdate::TFormNotifyUpdate(QWidget* Owner, const TAvailableRelease& Release)
    : QDialog(Owner), FRelease(Release) {
  setObjectName(QStringLiteral("FormNotifyUpdate"));
  setWindowTitle(QStringLiteral("Auto Update"));
  setFixedSize(359, 251);
  Image1 = NewLabel("Image1", "", 12, 12, 32, 32);
  Image1->setPixmap(EnvelopeIcon(TMarkColour::Green).pixmap(32, 32));
  Image1->setAccessibleName(QStringLiteral("Quillon Pro"));
  Label1 = NewLabel("Label1", "New version available!", 56, 12, 290, 18);
  Label2 = NewLabel("Label2", "Program has dectected a new version available on web. Do you want to upgrade now?", 56, 32,
                    290, 34);
  Label2->setWordWrap(true);
  Label5 = NewLabel("Label5", "Product:", 56, 76, 110, 18);
  LabelProduct = NewLabel("LabelProduct", "", 170, 76, 176, 18);
  Label3 = NewLabel("Label3", "Current Version:", 56, 96, 110, 18);
  LabelCurrentVersion = NewLabel("LabelCurrentVersion", "", 170, 96, 176, 18);
  Label4 = NewLabel("Label4", "Latest version:", 56, 116, 110, 18);
  LabelNewVersion = NewLabel("LabelNewVersion", "", 170, 116, 176, 18);
  auto* Bevel1 = new QFrame(this);
  Bevel1->setObjectName(QStringLiteral("Bevel1"));
  Bevel1->setFrameShape(QFrame::HLine);
  Bevel1->setFrameShadow(QFrame::Sunken);
  Bevel1->setGeometry(12, 142, 335, 3);
  Label6 = NewLabel("Label6", "Important:", 12, 150, 335, 18);
  Label7 = NewLabel("Label7",
                    "We strongly recommend you to finish all mails sending before proceeding (at the end of download "
                    "procedure, the application will be restarted).",
                    12, 168, 335, 44);
  Label7->setWordWrap(true);
  btnRemindLater = new QPushButton(QStringLiteral("Remind me later"), this);
  btnRemindLater->setObjectName(QStringLiteral("btnRemindLater"));
  btnRemindLater->setGeometry(140, 218, 105, 25);
  BtnUpgrade = new QPushButton(QStringLiteral("Upgrade Now"), this);
  BtnUpgrade->setObjectName(QStringLiteral("BtnUpgrade"));
  BtnUpgrade->setGeometry(252, 218, 95, 25);
  BtnUpgrade->setDefault(true);
  connect(btnRemindLater, &QPushButton::clicked, this, [this] { RunGuarded([this] { btnRemindLaterClick(); }); });
  connect(BtnUpgrade, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnUpgradeClick(); }); });
  FormCreate();
}

TFormNotifyUpdate::~TFormNotifyUpdate() {
  if (FormNotifyUpdate == this) FormNotifyUpdate = nullptr;
}

void TFormNotifyUpdate::FormCreate() {
  LoadFormLanguage(this, LanguageDir() + LanguageName.get());
  QFont Bold = font();
  Bold.setBold(true);
  Label1->setFont(Bold);
  Label6->setFont(Bold);
  LabelProduct->setFont(Bold);
  LabelProduct->setStyleSheet(QStringLiteral("color: #000080"));
  LabelProduct->setText(QStringLiteral("Quillon Pro"));
  const TVersion V = FileVersion();
  LabelCurrentVersion->setText(QStringLiteral("%1.%2.%3.%4").arg(V.Major).arg(V.Minor).arg(V.Release).arg(V.Build));
  LabelNewVersion->setFont(Bold);
  LabelNewVersion->setStyleSheet(QStringLiteral("color: #0000ff"));
  LabelNewVersion->setText(QString::fromStdString(FRelease.NewVersion));

  QWidget* Main = UpdateHost().MainWindow ? UpdateHost().MainWindow() : nullptr;
  QRect Around;
  if (Main && Main->isVisible())
    Around = Main->frameGeometry();
  else if (const QScreen* S = QGuiApplication::primaryScreen())
    Around = S->availableGeometry();
  if (Around.isValid()) move(Around.center() - rect().center());
}

void TFormNotifyUpdate::keyPressEvent(QKeyEvent* E) {
  if (E->key() == Qt::Key_Escape && E->modifiers() == Qt::NoModifier) {
    btnRemindLater->click();
    return;
  }
  QDialog::keyPressEvent(E);
}

void TFormNotifyUpdate::btnRemindLaterClick() {
  SetLastCheckVersionDate(Date());
  reject();
}

void TFormNotifyUpdate::BtnUpgradeClick() {
  // Hiding ends this window's modal run once the download window is done.
  hide();
  reject();
  auto* Update = new TFormUpdate(this, FRelease);
  FormUpdate = Update;
  Update->StartUpdate();
}
