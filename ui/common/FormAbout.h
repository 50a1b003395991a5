#pragma once
// The about box: product, version and the maker's contact links.
#include <QDialog>
#include <memory>

namespace Ui {
class TFormAbout;
}

// The maker's addresses, also used by the main window's Help menu.
extern const char* const HomePageAddress;
extern const char* const SupportMailAddress;

class TFormAbout : public QDialog {
  Q_OBJECT
public:
  explicit TFormAbout(QWidget* Owner);
  ~TFormAbout() override;

  void Label4Click();
  void Label5Click();

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  void FormCreate();
  std::unique_ptr<Ui::TFormAbout> ui;
};
