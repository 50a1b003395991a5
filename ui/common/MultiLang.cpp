#include "ui/common/MultiLang.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMetaProperty>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTextEdit>
#include <QWidget>
#include <vector>

#include "platform/IniFile.h"

namespace {
QString Q(const std::string& S) { return QString::fromStdString(S); }

std::string ReplaceLineBreaks(const std::string& S) {
  static const std::string Mark = "#13#10";
  std::string R;
  size_t From = 0;
  for (size_t P; (P = S.find(Mark, From)) != std::string::npos; From = P + Mark.size()) R += S.substr(From, P - From) + "\r\n";
  return R + S.substr(From);
}

// Qt breaks lines at LF; the CR of the file's CR LF would show as a stray glyph.
QString DisplayText(const std::string& S) { return Q(S).replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

// Another window the form owns (a dialog, the mail viewer) has a section of its own: its
// controls are not the form's. Pop-up menus are windows to Qt but the form's own menus.
bool OtherWindow(const QObject* O) {
  const auto* W = qobject_cast<const QWidget*>(O);
  return W && W->isWindow() && !qobject_cast<const QMenu*>(W);
}

// Depth first, in the order of creation; an empty name names nothing.
QObject* FindOwnedIn(const QObject* Parent, const QString& Name) {
  for (QObject* O : Parent->children()) {
    if (OtherWindow(O)) continue;
    if (O->objectName().compare(Name, Qt::CaseInsensitive) == 0) return O;
    if (QObject* Found = FindOwnedIn(O, Name)) return Found;
  }
  return nullptr;
}

QObject* FindOwned(QWidget* Form, const std::string& Name) {
  return Name.empty() ? nullptr : FindOwnedIn(Form, Q(Name));
}

// A page of a tab control: its caption is the tab's text.
bool SetTabText(QWidget* Page, const QString& Text) {
  auto* Stack = qobject_cast<QStackedWidget*>(Page->parentWidget());
  auto* Tabs = Stack ? qobject_cast<QTabWidget*>(Stack->parentWidget()) : nullptr;
  if (!Tabs) return false;
  const int I = Tabs->indexOf(Page);
  if (I < 0) return false;
  Tabs->setTabText(I, Text);
  return true;
}

bool SetCaption(QObject* O, const QString& Text) {
  if (auto* A = qobject_cast<QAction*>(O)) return A->setText(Text), true;
  if (auto* M = qobject_cast<QMenu*>(O)) return M->setTitle(Text), true;
  if (auto* L = qobject_cast<QLabel*>(O)) return L->setText(Text), true;
  if (auto* B = qobject_cast<QAbstractButton*>(O)) return B->setText(Text), true;
  if (auto* G = qobject_cast<QGroupBox*>(O)) return G->setTitle(Text), true;
  if (auto* W = qobject_cast<QWidget*>(O)) {
    if (W->isWindow()) return W->setWindowTitle(Text), true;
    return SetTabText(W, Text);
  }
  return false;
}

// "Short hint|long hint": the short part is the tool tip, the long one the status text.
bool SetHint(QObject* O, const QString& Text) {
  const qsizetype Bar = Text.indexOf(QLatin1Char('|'));
  const QString Short = Bar < 0 ? Text : Text.left(Bar);
  const QString Long = Bar < 0 ? Text : Text.mid(Bar + 1);
  if (auto* A = qobject_cast<QAction*>(O)) return A->setToolTip(Short), A->setStatusTip(Long), true;
  if (auto* W = qobject_cast<QWidget*>(O)) return W->setToolTip(Short), W->setStatusTip(Long), true;
  return false;
}

bool SetEditText(QObject* O, const QString& Text) {
  if (auto* E = qobject_cast<QLineEdit*>(O)) return E->setText(Text), true;
  if (auto* E = qobject_cast<QPlainTextEdit*>(O)) return E->setPlainText(Text), true;
  if (auto* E = qobject_cast<QTextEdit*>(O)) return E->setPlainText(Text), true;
  return false;
}

// One of the object's own Qt properties, found by name without case; only a string
// property takes the value. False when the object has no such property.
bool SetQtProperty(QObject* O, const std::string& Name, const QString& Text) {
  const QMetaObject* M = O->metaObject();
  const QString N = Q(Name);
  for (int I = 0; I < M->propertyCount(); ++I) {
    const QMetaProperty P = M->property(I);
    if (N.compare(QLatin1String(P.name()), Qt::CaseInsensitive) != 0) continue;
    if (P.metaType().id() == QMetaType::QString && P.isWritable()) P.write(O, Text);
    return true;
  }
  return false;
}

void SetProperty(QObject* O, const std::string& Property, const std::string& Value) {
  const QString Text = DisplayText(Value);
  if (SameText(Property, "Caption") && SetCaption(O, Text)) return;
  if (SameText(Property, "Hint") && SetHint(O, Text)) return;
  if (SameText(Property, "Text") && SetEditText(O, Text)) return;
  // A name the object does not have: the line is skipped and the rest still applies.
  SetQtProperty(O, Property, Text);
}

void ApplyFont(QWidget* Form, const TIniFile& Ini) {
  QFont F = Form->font();
  bool Changed = false;
  const std::string Name = Ini.ReadString("Info", "FontName", "");
  if (!Trim(Name).empty()) {
    F.setFamily(Q(Name));
    Changed = true;
  }
  int32_t Size = 0;
  const std::string SizeText = Ini.ReadString("Info", "FontSize", "");
  if (!Trim(SizeText).empty() && TryStrToInt(SizeText, Size) && Size > 0) {
    F.setPointSize(Size);
    Changed = true;
  }
  // "FontCharset" names a Windows character set; Qt fonts have none (text is Unicode), so
  // the key is read for its validity only.
  int32_t Charset = 0;
  const std::string CharsetText = Ini.ReadString("Info", "FontCharset", "");
  if (!Trim(CharsetText).empty()) (void)TryStrToInt(CharsetText, Charset);
  if (Changed) Form->setFont(F);
}
}  // namespace

bool SplitComponentProperty(const std::string& Line, std::string& ComponentName, std::string& PropertyName,
                            std::string& Value) {
  const size_t P = Line.find('.');
  if (P == std::string::npos) return false;
  const std::string Rest = Line.substr(P + 1);
  const size_t Q = Rest.find('=');
  if (Q == std::string::npos) return false;
  ComponentName = Line.substr(0, P);
  PropertyName = Rest.substr(0, Q);
  Value = Rest.substr(Q + 1);
  return true;
}

void ApplyFormLanguage(QWidget* Form, const TIniFile& Ini) {
  const std::string Section = Form->objectName().toStdString();
  ApplyFont(Form, Ini);
  std::vector<std::string> Lines;
  for (const std::string& Key : Ini.ReadSection(Section)) Lines.push_back(Key + "=" + Ini.ReadString(Section, Key, ""));
  const std::string Caption = Ini.ReadString(Section, "Caption", "");
  if (!Trim(Caption).empty()) Form->setWindowTitle(Q(Caption));
  for (const std::string& Line : Lines) {
    std::string Component, Property, Value;
    if (!SplitComponentProperty(Line, Component, Property, Value)) continue;
    QObject* O = FindOwned(Form, Component);
    if (!O) continue;
    SetProperty(O, Property, ReplaceLineBreaks(Value));
  }
}

void LoadFormLanguage(QWidget* Form, const std::string& IniFileName) {
  try {
    const TIniFile Ini(IniFileName);
    ApplyFormLanguage(Form, Ini);
  } catch (const std::exception&) {
    // A language file never stops a window from opening.
  }
}
