#include "ui/main/MailListModel.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <algorithm>

int StateImageIndex(TMailState State) {
  switch (State) {
    case msSending: return 0;
    case msWaiting:
    case msRequeued: return 1;
    case msFailed: return 2;
    case msSent: return 3;
    default: return -1;
  }
}

namespace {
template <class T>
int Order(const T& A, const T& B) {
  return A < B ? -1 : B < A ? 1 : 0;
}

// The engine's byte strings are UTF-8.
QString FromEngine(const std::string& S) { return QString::fromUtf8(S.data(), static_cast<qsizetype>(S.size())); }

QString ListDateTimeFormat() {
  const QLocale L = QLocale::system();
  // The long time format names the time zone on some systems; the list does not.
  QString Time = L.timeFormat(QLocale::LongFormat);
  Time.remove(QRegularExpression(QStringLiteral("\\s*t+\\s*$"))).remove(QRegularExpression(QStringLiteral("^\\s*t+\\s*")));
  return L.dateFormat(QLocale::ShortFormat) + QLatin1Char(' ') + Time;
}
}  // namespace

int CompareMailNodes(const TMailNodeData& A, const TMailNodeData& B, int Column) {
  switch (Column) {
    case 0: return Order(A.IDNumber, B.IDNumber);
    case 2: return A.Sender.compare(B.Sender, Qt::CaseInsensitive);
    case 3: return A.Recipients.compare(B.Recipients, Qt::CaseInsensitive);
    case 4: return A.Subject.compare(B.Subject, Qt::CaseInsensitive);
    case 5: return Order(A.Size, B.Size);
    case 6: return Order(A.ReceivedAt, B.ReceivedAt);
    case 7: return Order(A.SentAt, B.SentAt);
    default: return 0;
  }
}

QString FormatListDateTime(TDateTime Value) {
  static const QString Format = ListDateTimeFormat();
  int Y, Mo, D, H, Mi, S, Ms;
  DecodeDateTime(Value, Y, Mo, D, H, Mi, S, Ms);
  return QLocale::system().toString(QDateTime(QDate(Y, Mo, D), QTime(H, Mi, S)), Format);
}

TMailListModel::TMailListModel(QObject* Parent) : QAbstractTableModel(Parent) {
  FCaptions = {QString(), QStringLiteral("%"), QStringLiteral("Sender"), QStringLiteral("Recipient"),
               QStringLiteral("Subject"), QStringLiteral("Size"), QStringLiteral("Receive Date"),
               QStringLiteral("Sent Date")};
}

TMailListModel::~TMailListModel() = default;

int TMailListModel::rowCount(const QModelIndex& Parent) const {
  return Parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TMailListModel::columnCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : ColumnCount; }

namespace {
Qt::Alignment ColumnAlignment(int Column) {
  if (Column == 1) return Qt::AlignHCenter | Qt::AlignVCenter;
  if (Column == 5) return Qt::AlignRight | Qt::AlignVCenter;
  return Qt::AlignLeft | Qt::AlignVCenter;
}
}  // namespace

QVariant TMailListModel::data(const QModelIndex& Index, int Role) const {
  const TMailNodeData* N = Node(Index);
  if (!N) return {};
  const int Column = Index.column();
  if (Role == Qt::DecorationRole) {
    const int Image = Column == 0 ? StateImageIndex(N->State) : -1;
    return Image < 0 ? QVariant() : QVariant(FStateImages[static_cast<size_t>(Image)]);
  }
  if (Role == Qt::TextAlignmentRole) return QVariant::fromValue(ColumnAlignment(Column));
  if (Role != Qt::DisplayRole) return {};
  switch (Column) {
    case 1: return N->State == msSending ? QString::number(N->Progress) + QLatin1Char('%') : QString();
    case 2: return N->Sender;
    case 3: return N->Recipients;
    case 4: return N->Subject;
    case 5: return QString::number(N->Size);
    case 6: return FormatListDateTime(N->ReceivedAt);
    case 7: return N->State == msSent ? FormatListDateTime(N->SentAt) : QString();
    default: return QString();
  }
}

QVariant TMailListModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
  if (Orientation != Qt::Horizontal || Section < 0 || Section >= ColumnCount) return {};
  if (Role == Qt::DisplayRole) return FCaptions[Section];
  if (Role == Qt::TextAlignmentRole) return QVariant::fromValue(ColumnAlignment(Section));
  return {};
}

void TMailListModel::SetCaption(int Column, const QString& Caption) {
  if (Column < 0 || Column >= ColumnCount) return;
  FCaptions[Column] = Caption;
  emit headerDataChanged(Qt::Horizontal, Column, Column);
}

void TMailListModel::FillMailNode(const TMailRecord& Rec, TMailNodeData& Node) {
  Node.MailID = Rec.ID.str();
  Node.Progress = 0;
  Node.Sender = FromEngine(Rec.MailFrom.str());
  Node.Recipients = FromEngine(Rec.Recipient.str());
  Node.Subject = FromEngine(Rec.Subject.str());
  Node.Size = Rec.Size;
  Node.ReceivedAt = Rec.ReceiveTime;
  Node.SentAt = Rec.SentTime;
  Node.State = Rec.State;
  Node.IDNumber = std::atoll(Node.MailID.c_str());
}

void TMailListModel::Clear() {
  beginResetModel();
  FRows.clear();
  FByID.clear();
  FNumberedTo = 0;
  endResetModel();
}

void TMailListModel::AppendRecords(const std::vector<TMailRecord>& Records) {
  if (Records.empty()) return;
  const int First = static_cast<int>(FRows.size());
  beginInsertRows(QModelIndex(), First, First + static_cast<int>(Records.size()) - 1);
  FRows.reserve(FRows.size() + Records.size());
  FByID.reserve(FByID.size() + Records.size());
  for (const TMailRecord& Rec : Records) {
    auto N = std::make_unique<TMailNodeData>();
    FillMailNode(Rec, *N);
    N->Row = static_cast<int>(FRows.size());
    FByID[N->MailID] = N.get();
    FRows.push_back(std::move(N));
  }
  if (FNumberedTo == First) FNumberedTo = static_cast<int>(FRows.size());
  endInsertRows();
}

TMailNodeData* TMailListModel::Append(const TMailRecord& Rec) {
  AppendRecords({Rec});
  return FRows.back().get();
}

TMailNodeData* TMailListModel::FindMailNode(const std::string& ID) const {
  const auto It = FByID.find(ID.substr(0, 10));
  return It == FByID.end() ? nullptr : It->second;
}

TMailNodeData* TMailListModel::Node(int Row) const {
  return Row >= 0 && Row < static_cast<int>(FRows.size()) ? FRows[static_cast<size_t>(Row)].get() : nullptr;
}

void TMailListModel::Renumber(int From) const {
  for (size_t I = static_cast<size_t>(From); I < FRows.size(); ++I) FRows[I]->Row = static_cast<int>(I);
  FNumberedTo = static_cast<int>(FRows.size());
}

int TMailListModel::RowOf(TMailNodeData* Node) const {
  if (Node->Row >= FNumberedTo) Renumber(FNumberedTo);
  return Node->Row;
}

void TMailListModel::RowChanged(TMailNodeData* Node) {
  const int Row = RowOf(Node);
  emit dataChanged(index(Row, 0), index(Row, ColumnCount - 1));
}

void TMailListModel::Refill(TMailNodeData* Node, const TMailRecord& Rec) {
  const int Row = Node->Row;
  FillMailNode(Rec, *Node);
  Node->Row = Row;
  RowChanged(Node);
}

void TMailListModel::SetProgress(TMailNodeData* Node, int32_t Percent) {
  Node->Progress = Percent;
  const int Row = RowOf(Node);
  emit dataChanged(index(Row, 1), index(Row, 1));
}

void TMailListModel::Remove(TMailNodeData* Node) {
  if (FBatch) {
    FByID.erase(Node->MailID);
    FRemoved.push_back(Node);
    return;
  }
  const int Row = RowOf(Node);
  beginRemoveRows(QModelIndex(), Row, Row);
  FByID.erase(Node->MailID);
  FRows.erase(FRows.begin() + Row);
  FNumberedTo = std::min(FNumberedTo, Row);
  endRemoveRows();
}

void TMailListModel::RemoveAll(const std::vector<TMailNodeData*>& Nodes) {
  if (Nodes.empty()) return;
  std::vector<int> Rows;
  Rows.reserve(Nodes.size());
  for (TMailNodeData* N : Nodes) Rows.push_back(RowOf(N));
  std::sort(Rows.begin(), Rows.end());
  Rows.erase(std::unique(Rows.begin(), Rows.end()), Rows.end());
  // From the end, one contiguous run at a time, so the rows before each run keep their numbers.
  for (size_t End = Rows.size(); End > 0;) {
    size_t Begin = End - 1;
    while (Begin > 0 && Rows[Begin - 1] == Rows[Begin] - 1) --Begin;
    const int First = Rows[Begin], Last = Rows[End - 1];
    beginRemoveRows(QModelIndex(), First, Last);
    for (int R = First; R <= Last; ++R) {
      // A row of the same ID may have come back meanwhile (removed and added in one batch).
      const auto It = FByID.find(FRows[static_cast<size_t>(R)]->MailID);
      if (It != FByID.end() && It->second == FRows[static_cast<size_t>(R)].get()) FByID.erase(It);
    }
    FRows.erase(FRows.begin() + First, FRows.begin() + Last + 1);
    endRemoveRows();
    End = Begin;
  }
  FNumberedTo = std::min(FNumberedTo, Rows.front());
}

void TMailListModel::EndBatch() {
  FBatch = false;
  std::vector<TMailNodeData*> Removed;
  Removed.swap(FRemoved);
  RemoveAll(Removed);
}

void TMailListModel::SortBy(int Column, bool Descending) {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList Old = persistentIndexList();
  std::vector<TMailNodeData*> OldNodes;
  OldNodes.reserve(static_cast<size_t>(Old.size()));
  for (const QModelIndex& I : Old) OldNodes.push_back(Node(I));
  std::stable_sort(FRows.begin(), FRows.end(), [Column, Descending](const auto& A, const auto& B) {
    const int C = CompareMailNodes(*A, *B, Column);
    return Descending ? C > 0 : C < 0;
  });
  Renumber(0);
  QModelIndexList New;
  New.reserve(Old.size());
  for (qsizetype I = 0; I < Old.size(); ++I)
    New << (OldNodes[static_cast<size_t>(I)] ? index(OldNodes[static_cast<size_t>(I)]->Row, Old[I].column()) : QModelIndex());
  changePersistentIndexList(Old, New);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
