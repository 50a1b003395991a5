#pragma once
// The rows of the mail list: one TMailNodeData per mail of the shown category, in the
// store's order until the list is sorted, found by ID through a hash.
#include <QAbstractTableModel>
#include <QIcon>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/store/MailData.h"

struct TMailNodeData {
  std::string MailID;  // at most 10 characters
  int32_t Progress = 0;
  QString Sender;
  QString Recipients;
  QString Subject;
  int32_t Size = 0;
  TDateTime ReceivedAt = 0;
  TDateTime SentAt = 0;
  TMailState State = 0;
  // The ID as a number, for the queue order.
  long long IDNumber = 0;
  // Row in the list; valid below the model's renumbering mark.
  int Row = 0;
};

// The state image of a row: msSending 0, msWaiting and msRequeued 1, msFailed 2, msSent 3,
// otherwise -1 (none).
int StateImageIndex(TMailState State);
// Negative, zero or positive for A before, equal to or after B in ascending order by Column.
int CompareMailNodes(const TMailNodeData& A, const TMailNodeData& B, int Column);
// A date-time as the list shows it: the system's short date and long time.
QString FormatListDateTime(TDateTime Value);

class TMailListModel : public QAbstractTableModel {
  Q_OBJECT
public:
  static constexpr int ColumnCount = 8;

  explicit TMailListModel(QObject* Parent = nullptr);
  ~TMailListModel() override;

  int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& Index, int Role) const override;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;

  // Fills Node from Rec (Progress back to 0).
  static void FillMailNode(const TMailRecord& Rec, TMailNodeData& Node);

  void Clear();
  // Appends rows at the end; Records are taken in order.
  void AppendRecords(const std::vector<TMailRecord>& Records);
  TMailNodeData* Append(const TMailRecord& Rec);
  // The row of ID (cut to 10 characters), or nullptr.
  TMailNodeData* FindMailNode(const std::string& ID) const;
  void Refill(TMailNodeData* Node, const TMailRecord& Rec);
  void SetProgress(TMailNodeData* Node, int32_t Percent);
  void Remove(TMailNodeData* Node);
  // Removes every node in Nodes at once.
  void RemoveAll(const std::vector<TMailNodeData*>& Nodes);
  // Between the two, Remove only takes the row out of the ID hash; EndBatch then takes all
  // such rows out of the list at once. Nothing else may use a removed row meanwhile.
  void BeginBatch() { FBatch = true; }
  void EndBatch();
  // Stable sort; Descending reverses the comparison. Selection follows the rows.
  void SortBy(int Column, bool Descending);

  TMailNodeData* Node(int Row) const;
  TMailNodeData* Node(const QModelIndex& Index) const { return Index.isValid() ? Node(Index.row()) : nullptr; }
  int RowOf(TMailNodeData* Node) const;
  void SetCaption(int Column, const QString& Caption);
  void SetStateImages(const std::array<QIcon, 4>& Images) { FStateImages = Images; }

private:
  void Renumber(int From) const;
  void RowChanged(TMailNodeData* Node);

  bool FBatch = false;
  std::vector<TMailNodeData*> FRemoved;
  std::vector<std::unique_ptr<TMailNodeData>> FRows;
  std::unordered_map<std::string, TMailNodeData*> FByID;
  // Rows at and after this index may hold stale numbers.
  mutable int FNumberedTo = 0;
  QStringList FCaptions;
  std::array<QIcon, 4> FStateImages;
};
