#pragma once
// A relay server list view whose rows each own one server record, in the order the servers
// are tried, with the editing commands the dialogs that show the list offer: add and edit
// through the relay server editor, remove, move up and down.
#include <string>

#include "engine/settings/ListFormats.h"

class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

class TRelaySMTPRows {
public:
  // View: a report view with the columns Host and Port.
  explicit TRelaySMTPRows(QTreeWidget* View) : FView(View) {}

  // Appends a row for every well-formed entry of a "RelaySMTPList" text.
  void Load(const std::string& List);
  // The rows as a "RelaySMTPList" text.
  std::string Get() const;
  // Some row equals Item in all seven fields (the editor's duplicate test).
  bool Exists(const TRelaySMTPItem& Item) const;
  void Clear();
  QTreeWidgetItem* AddRow(const TRelaySMTPItem& Item, int Index = -1);

  // The commands; each is true when it changed the list. Owner owns the editor while it runs.
  bool Add(QWidget* Owner);
  bool Edit(QWidget* Owner);  // the selected row
  bool Remove();              // the selected row; no row is selected afterwards
  bool Move(int Offset);      // the selected row one place up (-1) or down (1), still selected

private:
  QTreeWidget* const FView;
};
