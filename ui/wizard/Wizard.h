#pragma once
// The configuration wizard: six pages that set the DNS servers, point the user's mail
// accounts at our SMTP server, fill the relay server list and choose how the program
// starts. The caller creates it, runs exec() and frees it; the first start does so on its
// own (see MarkWizardAlreadyRun).
#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/options/RelaySMTPRows.h"
#include "ui/wizard/MailAccounts.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QVBoxLayout;
class QWidget;

class TFormWizard : public QDialog {
  Q_OBJECT
public:
  explicit TFormWizard(QWidget* Owner);
  ~TFormWizard() override;

  // Where Detect finds the machine's DNS servers, and whether Outlook Express runs (tests
  // put in their own).
  std::function<void(std::vector<std::string>&)> GetSystemDNSServers;
  std::function<bool()> OutlookExpressRunning;

  int Step() const { return FStep; }

  // Handlers.
  void BtnNextClick();
  void BtnBackClick();
  void BtnFinishClick();
  void EditDNSPrimaryChange();
  void BtnDetectDNSClick();
  void BtnUseDefaultDNSClick();
  void BtnSMTPAddClick();
  void BtnSMTPEditClick();
  void BtnSMTPRemoveClick();
  void BtnSMTPUpClick();
  void BtnSMTPDownClick();

  // Controls, by page.
  QWidget* PanelStep1;
  QLabel* ImageWelcome;
  QLabel* Label2;
  QWidget* PanelStep2;
  QLabel* Label11;
  QLabel* ImageStep2;
  QRadioButton* RBAutoDetectDNS;
  QRadioButton* RBSpecifyDNS;
  QLineEdit* EditDNSPrimary;
  QLineEdit* EditDNSSecondary;
  QPushButton* BtnDetectDNS;
  QPushButton* BtnUseDefaultDNS;
  QWidget* PanelStep3;
  QLabel* Label12;
  QLabel* ImageStep3;
  QTreeWidget* LVAccounts;
  QLabel* Label23;
  QWidget* PanelStep4;
  QLabel* Label13;
  QLabel* ImageStep4;
  QCheckBox* CBRelayToSMTP;
  QTreeWidget* LVSMTPList;
  QPushButton* BtnSMTPAdd;
  QPushButton* BtnSMTPEdit;
  QPushButton* BtnSMTPRemove;
  QPushButton* BtnSMTPUp;
  QPushButton* BtnSMTPDown;
  QWidget* PanelStep5;
  QLabel* Label29;
  QLabel* ImageStep5;
  QCheckBox* CBAutoRun;
  QCheckBox* CBMinToTray;
  QWidget* PanelStep6;
  QLabel* ImageFinish;
  QLabel* Label1;
  QLabel* LabelHomepage;
  QPushButton* BtnBack;
  QPushButton* BtnNext;
  QPushButton* BtnFinish;
  QPushButton* BtnCancel;

private:
  void BuildWindow();
  QVBoxLayout* NewBandPage(int Step, QWidget*& Page, QLabel*& Icon, QLabel*& Heading, const char* HeadingName,
                           const char* HeadingText);
  QVBoxLayout* NewPicturePage(int Step, QWidget*& Page, QLabel*& Picture, const char* PictureName, QLabel*& Heading,
                              const char* HeadingName, const char* HeadingText);
  QWidget* BuildWelcomePage();
  QWidget* BuildDNSPage();
  QWidget* BuildAccountsPage();
  QWidget* BuildRelayPage();
  QWidget* BuildGeneralPage();
  QWidget* BuildFinishPage();
  void BuildButtons();
  void Connect();

  void FormCreate();
  void FormDestroy();
  void ShowStep();
  void LoadAccounts();
  void FreeAccounts();
  void LoadSettings();
  void LoadRelaySMTPList();
  std::string GetRelaySMTPList() const;
  void ClearSMTPList();
  void ApplyAccountChanges();

  int32_t FStep = 1;
  std::vector<std::unique_ptr<TMailAccountInfo>> FAccounts;
  std::unique_ptr<TRelaySMTPRows> FSMTPRows;
};

// The open wizard.
extern TFormWizard* FormWizard;

// From the first run on, the program does not start the wizard by itself again.
void MarkWizardAlreadyRun();
