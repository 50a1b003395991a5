// The wizard's pages and its button row. Every page has the same size; only the page of
// the current step is visible.
#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/common/FormAbout.h"
#include "ui/common/ZQDiag.h"
#include "ui/options/DialogControls.h"
#include "ui/wizard/Wizard.h"

namespace {
const int PageWidth = 500;
const int PageHeight = 320;

QLabel* Paragraph(QWidget* Page, const char* Name, const char* Text) {
  QLabel* L = NewControl<QLabel>(Page, Name, Text);
  L->setWordWrap(true);
  return L;
}

void PaintWhite(QWidget* W) {
  W->setAutoFillBackground(true);
  QPalette P = W->palette();
  P.setColor(QPalette::Window, Qt::white);
  W->setPalette(P);
}

QFrame* NewLine(QWidget* Parent) {
  auto* Line = new QFrame(Parent);
  Line->setFrameShape(QFrame::HLine);
  Line->setFrameShadow(QFrame::Sunken);
  return Line;
}

QWidget* NewPage(QWidget* Form, const char* Name, bool White) {
  auto* Page = new QWidget(Form);
  Page->setObjectName(QLatin1String(Name));
  Page->setFixedSize(PageWidth, PageHeight);
  if (White) PaintWhite(Page);
  return Page;
}

QLabel* NewImage(QWidget* Page, const char* Name, int Width, int Height) {
  auto* Image = new QLabel(Page);
  Image->setObjectName(QLatin1String(Name));
  Image->setFixedSize(Width, Height);
  return Image;
}

// The first and the last page: the picture on the left, the texts beside it.
QVBoxLayout* PictureLayout(QWidget* Page, QLabel* Picture) {
  auto* Row = new QHBoxLayout(Page);
  Row->setContentsMargins(0, 0, 0, 0);
  Row->setSpacing(0);
  Row->addWidget(Picture, 0, Qt::AlignTop);
  auto* Texts = new QVBoxLayout;
  Texts->setContentsMargins(18, 16, 18, 12);
  Texts->setSpacing(12);
  Row->addLayout(Texts, 1);
  return Texts;
}

// The other pages: a white header band with the heading and the icon, a line, the page's
// controls below.
QVBoxLayout* BandLayout(QWidget* Page, QLabel* Heading, QLabel* Icon) {
  auto* Main = new QVBoxLayout(Page);
  Main->setContentsMargins(0, 0, 0, 0);
  Main->setSpacing(0);
  auto* Band = new QWidget(Page);
  PaintWhite(Band);
  auto* BandRow = new QHBoxLayout(Band);
  BandRow->setContentsMargins(16, 5, 8, 5);
  BandRow->addWidget(Heading, 1);
  BandRow->addWidget(Icon);
  Main->addWidget(Band);
  Main->addWidget(NewLine(Page));
  auto* Body = new QVBoxLayout;
  Body->setContentsMargins(24, 10, 24, 8);
  Body->setSpacing(8);
  Main->addLayout(Body, 1);
  return Body;
}
}  // namespace

void TFormWizard::BuildWindow() {
  setObjectName(QStringLiteral("FormWizard"));
  setWindowTitle(QStringLiteral("Quillon Configuration Wizard"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  auto* Main = new QVBoxLayout(this);
  Main->setContentsMargins(0, 0, 0, 0);
  Main->setSpacing(0);
  for (QWidget* Page : {BuildWelcomePage(), BuildDNSPage(), BuildAccountsPage(), BuildRelayPage(), BuildGeneralPage(),
                        BuildFinishPage()})
    Main->addWidget(Page);
  Main->addWidget(NewLine(this));
  BuildButtons();
  auto* Row = new QHBoxLayout;
  Row->setContentsMargins(10, 10, 10, 10);
  Row->addStretch();
  Row->addWidget(BtnBack);
  Row->addWidget(BtnNext);
  Row->addWidget(BtnFinish);
  Row->addSpacing(10);
  Row->addWidget(BtnCancel);
  Main->addLayout(Row);
  Main->setSizeConstraint(QLayout::SetFixedSize);
}

// Page Step with a header band: its panel, heading and icon, and the layout below the band.
QVBoxLayout* TFormWizard::NewBandPage(int Step, QWidget*& Page, QLabel*& Icon, QLabel*& Heading,
                                      const char* HeadingName, const char* HeadingText) {
  Page = NewPage(this, qPrintable(QStringLiteral("PanelStep%1").arg(Step)), false);
  Heading = NewControl<QLabel>(Page, HeadingName, HeadingText);
  Icon = NewImage(Page, qPrintable(QStringLiteral("ImageStep%1").arg(Step)), 50, 50);
  return BandLayout(Page, Heading, Icon);
}

// Page Step with the picture on its left: its panel, picture and heading, and the layout
// beside the picture.
QVBoxLayout* TFormWizard::NewPicturePage(int Step, QWidget*& Page, QLabel*& Picture, const char* PictureName,
                                         QLabel*& Heading, const char* HeadingName, const char* HeadingText) {
  Page = NewPage(this, qPrintable(QStringLiteral("PanelStep%1").arg(Step)), true);
  Picture = NewImage(Page, PictureName, 150, 320);
  QVBoxLayout* Texts = PictureLayout(Page, Picture);
  Heading = Paragraph(Page, HeadingName, HeadingText);
  Texts->addWidget(Heading);
  return Texts;
}

QWidget* TFormWizard::BuildWelcomePage() {
  QVBoxLayout* Texts = NewPicturePage(1, PanelStep1, ImageWelcome, "ImageWelcome", Label2, "Label2",
                                      "Welcome to the Quillon Configuration Wizard");
  QWidget* Page = PanelStep1;
  Texts->addWidget(
      Paragraph(Page, "Label3",
                "This wizard helps you configure Quillon working right on your computer. By using Quillon, "
                "you can send your mail fast, safe and directly to recipient."));
  Texts->addWidget(
      Paragraph(Page, "Label4",
                "If your mail client program, like Outlook Express, is running, please close it first. This "
                "wizard will change its mail account settings."));
  Texts->addStretch();
  Texts->addWidget(Paragraph(Page, "Label5", "To continue, click Next"));
  return Page;
}

QWidget* TFormWizard::BuildDNSPage() {
  QVBoxLayout* Body = NewBandPage(2, PanelStep2, ImageStep2, Label11, "Label11", "DNS Server Configuration");
  QWidget* Page = PanelStep2;
  Body->addWidget(Paragraph(Page, "Label6",
                            "Quillon delivers your mail directly to the recipient's mail server, and it needs a DNS "
                            "server to find that server. Please tell Quillon which DNS server your computer uses."));
  RBAutoDetectDNS = NewControl<QRadioButton>(Page, "RBAutoDetectDNS", "Automatic detect DNS settings (Recommended)");
  RBAutoDetectDNS->setChecked(true);
  RBSpecifyDNS = NewControl<QRadioButton>(Page, "RBSpecifyDNS", "Specify DNS server addresses");
  Body->addWidget(RBAutoDetectDNS);
  Body->addWidget(RBSpecifyDNS);
  auto* Grid = new QGridLayout;
  Grid->setContentsMargins(20, 0, 0, 0);
  auto* LabelPrimary = NewControl<QLabel>(Page, "Label7", "Primary DNS Server:");
  EditDNSPrimary = NewEdit(Page, "EditDNSPrimary", 150);
  LabelPrimary->setBuddy(EditDNSPrimary);
  auto* LabelSecondary = NewControl<QLabel>(Page, "Label8", "Secondary DNS Server:");
  EditDNSSecondary = NewEdit(Page, "EditDNSSecondary", 150);
  LabelSecondary->setBuddy(EditDNSSecondary);
  Grid->addWidget(LabelPrimary, 0, 0);
  Grid->addWidget(EditDNSPrimary, 0, 1);
  Grid->addWidget(LabelSecondary, 1, 0);
  Grid->addWidget(EditDNSSecondary, 1, 1);
  Grid->addWidget(NewControl<QLabel>(Page, "Label9", "(Optional)"), 1, 2);
  Grid->setColumnStretch(3, 1);
  Body->addLayout(Grid);
  Body->addStretch();
  auto* DetectRow = new QHBoxLayout;
  DetectRow->addWidget(Paragraph(Page, "Label10", "To detect your current DNS settings, please click Detect."), 1);
  BtnDetectDNS = NewControl<QPushButton>(Page, "BtnDetectDNS", "Detect");
  BtnUseDefaultDNS = NewControl<QPushButton>(Page, "BtnUseDefaultDNS", "Use Default");
  DetectRow->addWidget(BtnDetectDNS);
  DetectRow->addWidget(BtnUseDefaultDNS);
  Body->addLayout(DetectRow);
  return Page;
}

QWidget* TFormWizard::BuildAccountsPage() {
  QVBoxLayout* Body = NewBandPage(3, PanelStep3, ImageStep3, Label12, "Label12",
                                  "Change the account settings of your mail client program");
  QWidget* Page = PanelStep3;
  Body->addWidget(Paragraph(Page, "Label14",
                            "To use Quillon sending your mail out, you need change the outgoing mail server(SMTP) to "
                            "localhost. The wizard will help you change the settings of your mail account."));
  Body->addWidget(Paragraph(
      Page, "Label15", "Wizard has detected following mail account, please select the account you want to change:"));
  LVAccounts = NewReportView(Page, "LVAccounts", {QString(), QString()}, {220, 120});
  LVAccounts->setAccessibleName(QStringLiteral("Mail accounts"));
  Body->addWidget(LVAccounts, 1);
  Label23 = NewControl<QLabel>(Page, "Label23", "* No mail account detected!");
  QPalette Red = Label23->palette();
  Red.setColor(QPalette::WindowText, Qt::red);
  Label23->setPalette(Red);
  Body->addWidget(Label23);
  Body->addWidget(Paragraph(Page, "Label16",
                            "NOTE: If wizard haven't detected your mail account, you need change the mail account "
                            "manually. Please look up the help docment for more details."));
  return Page;
}

QWidget* TFormWizard::BuildRelayPage() {
  QVBoxLayout* Body = NewBandPage(4, PanelStep4, ImageStep4, Label13, "Label13",
                                  "Add your current SMTP server to  Relay SMTP Server List");
  QWidget* Page = PanelStep4;
  Body->addWidget(
      Paragraph(Page, "Label17",
                "Mail that cannot be delivered directly to the recipient's mail server can go through a relay "
                "SMTP server. Please add the SMTP servers you used so far to the relay list."));
  CBRelayToSMTP = NewControl<QCheckBox>(Page, "CBRelayToSMTP", "Enable Relay SMTP server List");
  CBRelayToSMTP->setChecked(true);
  Body->addWidget(CBRelayToSMTP);
  auto* Row = new QHBoxLayout;
  LVSMTPList = NewReportView(Page, "LVSMTPList", {QString(), QString()}, {250, 60});
  LVSMTPList->setAccessibleName(QStringLiteral("Relay SMTP servers"));
  Row->addWidget(LVSMTPList, 1);
  auto* Buttons = new QVBoxLayout;
  BtnSMTPAdd = NewControl<QPushButton>(Page, "BtnSMTPAdd", "Add");
  BtnSMTPEdit = NewControl<QPushButton>(Page, "BtnSMTPEdit", "Edit...");
  BtnSMTPRemove = NewControl<QPushButton>(Page, "BtnSMTPRemove", "Remove");
  BtnSMTPUp = NewControl<QPushButton>(Page, "BtnSMTPUp", "Move Up");
  BtnSMTPDown = NewControl<QPushButton>(Page, "BtnSMTPDown", "Move Down");
  for (QPushButton* B : {BtnSMTPAdd, BtnSMTPEdit, BtnSMTPRemove, BtnSMTPUp, BtnSMTPDown}) {
    B->setAutoDefault(false);
    Buttons->addWidget(B);
  }
  Buttons->addStretch();
  Row->addLayout(Buttons);
  Body->addLayout(Row, 1);
  FSMTPRows = std::make_unique<TRelaySMTPRows>(LVSMTPList);
  return Page;
}

QWidget* TFormWizard::BuildGeneralPage() {
  QVBoxLayout* Body = NewBandPage(5, PanelStep5, ImageStep5, Label29, "Label29", "General Settings");
  QWidget* Page = PanelStep5;
  CBAutoRun = NewControl<QCheckBox>(Page, "CBAutoRun", "Run when Windows starts up");
  CBAutoRun->setChecked(true);
  Body->addWidget(CBAutoRun);
  QLabel* AutoRunNote = Paragraph(Page, "Label30",
                                  "By select this option, Quillon will run automatically  when Windows starts up. "
                                  "Otherwise, you need run Quillon manually before you send mails.");
  AutoRunNote->setContentsMargins(20, 0, 0, 0);
  Body->addWidget(AutoRunNote);
  Body->addSpacing(6);
  CBMinToTray = NewControl<QCheckBox>(Page, "CBMinToTray", "Minimize to system tray when starts up");
  CBMinToTray->setChecked(true);
  Body->addWidget(CBMinToTray);
  QLabel* TrayNote =
      Paragraph(Page, "Label31",
                "Quillon will minimize to system tray and run background without showing the main window. "
                "And you can reactive it by double clicking the icon on the system tray.");
  TrayNote->setContentsMargins(20, 0, 0, 0);
  Body->addWidget(TrayNote);
  Body->addStretch();
  Body->addWidget(Paragraph(Page, "Label32", "More options are available in Options dialogue."));
  return Page;
}

QWidget* TFormWizard::BuildFinishPage() {
  QVBoxLayout* Texts = NewPicturePage(6, PanelStep6, ImageFinish, "ImageFinish", Label1, "Label1",
                                      "Completing the Quillon Configuration Wizard");
  QWidget* Page = PanelStep6;
  Texts->addWidget(Paragraph(Page, "Label33", "You have successfully completed the Quillon Configuration Wizard."));
  Texts->addWidget(
      Paragraph(Page, "Label34", "For more information about using Quillon, please look up the help document."));
  Texts->addWidget(
      Paragraph(Page, "Label35", "To get the latest information about Quillon, please visit our web page at:"));
  // The address is only shown: the main window's Help menu opens it.
  LabelHomepage = NewControl<QLabel>(Page, "LabelHomepage", HomePageAddress);
  QPalette Blue = LabelHomepage->palette();
  Blue.setColor(QPalette::WindowText, Qt::blue);
  LabelHomepage->setPalette(Blue);
  QFont Underlined = LabelHomepage->font();
  Underlined.setUnderline(true);
  LabelHomepage->setFont(Underlined);
  Texts->addWidget(LabelHomepage);
  Texts->addStretch();
  Texts->addWidget(Paragraph(Page, "Label36", "To close the wizard, click Finish."));
  return Page;
}

void TFormWizard::BuildButtons() {
  BtnBack = NewControl<QPushButton>(this, "BtnBack", "< &Back");
  BtnNext = NewControl<QPushButton>(this, "BtnNext", "&Next >");
  BtnFinish = NewControl<QPushButton>(this, "BtnFinish", "&Finish");
  BtnCancel = NewControl<QPushButton>(this, "BtnCancel", "&Cancel");
  BtnCancel->setAutoDefault(false);
  BtnBack->setAutoDefault(false);
}

void TFormWizard::Connect() {
  auto Bind = [this](QPushButton* Button, void (TFormWizard::*Handler)()) {
    connect(Button, &QPushButton::clicked, this, [this, Handler] { RunGuarded([&] { (this->*Handler)(); }); });
  };
  Bind(BtnNext, &TFormWizard::BtnNextClick);
  Bind(BtnBack, &TFormWizard::BtnBackClick);
  Bind(BtnFinish, &TFormWizard::BtnFinishClick);
  Bind(BtnDetectDNS, &TFormWizard::BtnDetectDNSClick);
  Bind(BtnUseDefaultDNS, &TFormWizard::BtnUseDefaultDNSClick);
  Bind(BtnSMTPAdd, &TFormWizard::BtnSMTPAddClick);
  Bind(BtnSMTPEdit, &TFormWizard::BtnSMTPEditClick);
  Bind(BtnSMTPRemove, &TFormWizard::BtnSMTPRemoveClick);
  Bind(BtnSMTPUp, &TFormWizard::BtnSMTPUpClick);
  Bind(BtnSMTPDown, &TFormWizard::BtnSMTPDownClick);
  connect(BtnCancel, &QPushButton::clicked, this, &QDialog::reject);
  auto DNSRule = [this] { RunGuarded([this] { EditDNSPrimaryChange(); }); };
  connect(EditDNSPrimary, &QLineEdit::textChanged, this, DNSRule);
  connect(RBAutoDetectDNS, &QRadioButton::toggled, this, DNSRule);
  connect(RBSpecifyDNS, &QRadioButton::toggled, this, DNSRule);
  connect(LVSMTPList, &QTreeWidget::itemDoubleClicked, this, [this] { RunGuarded([this] { BtnSMTPEditClick(); }); });
}
