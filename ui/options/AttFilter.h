#pragma once
// The attachment filter: file extensions whose attachments make the server refuse a mail,
// and the switch that turns the filter on.
#include <QDialog>
#include <string>

class QCheckBox;
class QPushButton;
class QTreeWidget;

class TFormAttachmentFilter : public QDialog {
  Q_OBJECT
public:
  explicit TFormAttachmentFilter(QWidget* Owner);

  // UseFilter and Filters are "UseAttachmentFilter" and "AttachmentFilters". After
  // QDialog::Accepted the caller reads CBUseAttachmentFilter and BuildList; an unchanged
  // list and switch close with QDialog::Rejected.
  int Execute(bool UseFilter, const std::string& Filters);
  // The rows as an "AttachmentFilters" string, in list order.
  void BuildList(std::string& Filters) const;
  void AddExt(const std::string& Ext, bool Ticked);
  void UpdateControls();

  QCheckBox* CBUseAttachmentFilter;
  QTreeWidget* LVFileExt;
  QPushButton* BtnSelectAll;
  QPushButton* BtnSelectNone;
  QPushButton* BtnAdd;
  QPushButton* BtnEdit;
  QPushButton* BtnRemove;
  QPushButton* BtnReset;
  QPushButton* BtnOK;
  QPushButton* BtnCancel;

  void CBUseAttachmentFilterClick();
  void BtnSelectAllClick();
  void BtnSelectNoneClick();
  void BtnAddClick();
  void BtnEditClick();
  void BtnRemoveClick();
  void BtnResetClick();
  void BtnOKClick();

private:
  void FormCreate();
  bool EditExt(std::string& Ext);

  std::string OldFilters;
  bool OldUseFilter = false;
};

// The open filter dialog; the extension editor's duplicate test reads its list.
extern TFormAttachmentFilter* FormAttachmentFilter;
