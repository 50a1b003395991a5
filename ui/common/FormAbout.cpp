#include "ui/common/FormAbout.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QUrl>

#include "engine/settings/LangDefs.h"
#include "engine/settings/VexaBase.h"
#include "ui/common/AppImages.h"
#include "ui/common/Desktop.h"
#include "ui/common/MultiLang.h"
#include "ui/common/ZQDiag.h"
#include "ui_FormAbout.h"

const char* const HomePageAddress = "https://www.nimbrel.example/quillon/";
const char* const SupportMailAddress = "support@nimbrel.example";

TFormAbout::TFormAbout(QWidget* Owner) : QDialog(Owner), ui(std::make_unique<Ui::TFormAbout>()) {
  ui->setupUi(this);
  ui->Image1->setPixmap(AboutPicture(80, 200));
  ui->Label4->setText(QString::fromLatin1(HomePageAddress));
  ui->Label5->setText(QString::fromLatin1(SupportMailAddress));
  for (QWidget* Link : {ui->Label4, ui->Label5}) Link->installEventFilter(this);
  connect(ui->BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
  FormCreate();
}

TFormAbout::~TFormAbout() = default;

void TFormAbout::FormCreate() {
  LoadFormLanguage(this, LanguageDir() + LanguageName.get());
  QFont Product = font();
  Product.setBold(true);
  Product.setPixelSize(13);
  ui->LabelProduct->setFont(Product);
  uint16_t Major, Minor, Release, Build;
  GetFileVersion(Major, Minor, Release, Build);
  ui->LabelVersion->setText(QStringLiteral("v%1.%2.%3.%4").arg(Major).arg(Minor).arg(Release).arg(Build));
  ui->LabelProduct->setText(QStringLiteral("Quillon Pro"));
}

void TFormAbout::Label4Click() { Desktop().OpenUrl(QUrl(QString::fromLatin1(HomePageAddress))); }

void TFormAbout::Label5Click() {
  Desktop().OpenUrl(QUrl(QStringLiteral("mailto:") + QString::fromLatin1(SupportMailAddress)));
}

// The two links answer a click, and Space or Enter when they have the focus.
bool TFormAbout::eventFilter(QObject* Watched, QEvent* Event) {
  const bool Click = Event->type() == QEvent::MouseButtonRelease &&
                     static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton;
  const bool Key = Event->type() == QEvent::KeyPress &&
                   (static_cast<QKeyEvent*>(Event)->key() == Qt::Key_Space ||
                    static_cast<QKeyEvent*>(Event)->key() == Qt::Key_Return);
  if (Click || Key) {
    RunGuarded([&] {
      if (Watched == ui->Label4) Label4Click();
      if (Watched == ui->Label5) Label5Click();
    });
    return true;
  }
  return QDialog::eventFilter(Watched, Event);
}
