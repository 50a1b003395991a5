#include "UiTestSupport.h"

#include <QTextBlock>
#include <QTextEdit>

#include "engine/settings/VexaBase.h"
#include "support/RelayHarness.h"
#include "support/TestEnv.h"
#include "ui/main/FormMain.h"

namespace {
QTextEdit* Log(TFormMain& Form) { return Form.findChild<QTextEdit*>(QStringLiteral("RELog")); }
}  // namespace

QStringList LogLines(TFormMain& Form) {
  QStringList Lines;
  const QString Text = Log(Form)->toPlainText();
  if (Text.isEmpty()) return Lines;
  for (const QString& L : Text.split(QLatin1Char('\n'))) Lines << L.section(QStringLiteral("] "), 1);
  return Lines;
}

QString LogColour(TFormMain& Form, int Index) {
  const QTextBlock B = Log(Form)->document()->findBlockByNumber(Index);
  return B.begin().fragment().charFormat().foreground().color().name();
}

void WriteWindowSettings(TTestEnv& Env, int Port, const std::string& Dns, bool AutoStart, const std::string& More) {
  WriteHarnessRegistry(Env, Port, Dns,
                       RegistryDword("AutoStartServer", AutoStart) + RegistryDword("WizardAlreadyRun", 1) +
                           RegistryDword("SMTPMultiIPBind", 1) +
                           "\"SMTPMultiIPBinds\"=\"127.0.0.1:" + std::to_string(Port) + "\"\r\n" + More);
  InitSettings();
}
