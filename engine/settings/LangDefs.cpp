#include "engine/settings/LangDefs.h"

#include <algorithm>
#include <filesystem>

#include "engine/settings/VexaBase.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/Registry.h"

namespace {
const char* const EnglishTexts[LangStringCount] = {
    "Sender",                                              // 0
    "Recipient",                                           // 1
    "Subject",                                             // 2
    "Size",                                                // 3
    "Receive Date",                                        // 4
    "Sent Date",                                           // 5
    "Messages(%d)",                                        // 6
    "Queue(%d)",                                           // 7
    "Sent(%d)",                                            // 8
    "Sent Failed(%d)",                                     // 9
    "Received: %d",                                        // 10
    "Sent: %d",                                            // 11
    "Failed: %d",                                          // 12
    "Sending: %d",                                         // 13
    "SMTP Sender Manager initialized.",                    // 14
    "Built-in SMTP server initialized.",                   // 15
    "Mail delivery paused.",                               // 16
    "Mail delivery proceed.",                              // 17
    "Are you sure to delete all messages?",                // 18
    "Error reading registry!",                             // 19
    "Error",                                               // 20
    "Error writing registry!",                             // 21
    "New mail received. Message will deliver to %s.",      // 22
    "Message from %s delivered to %s successfully",        // 23
    "Message from %s delivered to %s failed.",             // 24
    "Mail client from %s connected",                       // 25
    "Mail client from %s disconnected",                    // 26
    "Built-in SMTP server started. Listening on port %d",  // 27
    "Local Host: ",                                        // 28
    "Local IP: ",                                          // 29
    "Built-in SMTP server stoped",                         // 30
    "SMTP Mail Sender Server Started.",                    // 31
    "SMTP Mail Sender Server Stoped.",                     // 32
    "SMTP Mail Sender Server Paused.",                     // 33
    "SMTP Mail Sender Server Resumed.",                    // 34
    "Some options will not take effect until you restart server. Do you want to restart server now?",  // 35
    "Are you sure to delete the selected messages?",       // 36
    "Are you sure to resend the selected messages?",       // 37
    "You must set an available Socks Proxy server.",       // 38
    "'%s' is not valid value of socks port",               // 39
    "'%s' is not valid value of SMTP port",                // 40
    "Can not start built-in SMTP server",                  // 41
    "You must set Primary DNS Server!",                    // 42
    "You must set an available relay SMTP server.",        // 43
    "%s is not a valid mail address. You must set a valid mail address or leave it blank.",  // 44
    "You must set an available mail address to send notify mail.",                          // 45
    "%s is not a valid mail address. You must set an available mail address to send notify mail.",  // 46
    "Please enter a valid IP address.",                    // 47
    "Can't find the IP address(%s) in local IP address list. Do you want to add it anyway?",  // 48
    "Please enter a valid TCP Port number.",               // 49
    "Binding is not unique.",                              // 50
    "IP Address",                                          // 51
    "TCP Port",                                            // 52
    "%s is not a valid IP address.",                       // 53
    "%s is not a valid subnet address.",                   // 54
    "%s is not a valid subnet mask.",                      // 55
    "The duplicate entry already exists in list.",         // 56
    "Granted",                                             // 57
    "Denied",                                              // 58
    "File Extension",                                      // 59
    "Description",                                         // 60
    "Access",                                              // 61
    "IP Address (Subnet Mask)",                            // 62
    "Host",                                                // 63
    "Port",                                                // 64
    "Quillon detected Outlook Express is running. Quillon will change your mail account SMTP settings. Please exit "
    "and restart Outlook Express to take the changes effect.",  // 65
    "Quillon detected Outlook Express is running. Quillon will restore your mail account SMTP settings. Please exit "
    "and restart Outlook Express to take the changes effect.",  // 66
    "Account Name",                                        // 67
    "Program",                                             // 68
    "No Outlook Express Mail Account detected!",           // 69
    "Outgoing Mail Server",                                // 70
    "Original Outgoing Mail Server",                       // 71
    "Save mail content to file",                           // 72
    "Save mail source to file",                            // 73
    "Save mail log to file",                               // 74
    "Text Files (*.txt)|*.txt",                            // 75
    "Mail (*.eml)|*.eml|Text Files (*.txt)|*.txt",         // 76
    "Log (*.log)|*.log|Text Files (*.txt)|*.txt",          // 77
    "Message from %s relay to [%s] successfully",          // 78
    "Will try again later.",                               // 79
    "Notify mail received. Message will deliver to %s.",   // 80
    "Progress",                                            // 81
    "No DNS server detected!",                             // 82
    "Event",                                               // 83
    "Sound File Name",                                     // 84
    "Mail Sent",                                           // 85
    "Mail Sent Failed",                                    // 86
    "Please enter a valid mail domain!",                   // 87
    "Email Address/Domain Name",                           // 88
    "%s is not a valid mail address.",                     // 89
    "Please enter a valid mail domain name.",              // 90
    "Primary DNS Server: %s , Secondary DNS Server: %s",   // 91
    "There is no new version of %s available.",            // 92
    "",                                                    // 93
    "",                                                    // 94
    "Program is downloading the update file. Are you sure you want to cancel it?",  // 95
    "Can't create the update temp data file.",             // 96
    "%s %s update file",                                   // 97
    "Error to get the update file. Error: %s",             // 98
    // Refusals of input that the stored lists could not hold, and the autostart failure.
    "'%s' is not a valid file extension. An extension can not contain blanks, '.', ':', ';', '*' or '?'.",  // 99
    "Can not update the autostart entry: %s. The other options have been saved.",  // 100
    "The host name can not contain ':' or ';'.",           // 101
    "The mail address can not contain ':' or ';'.",        // 102
    "The user name can not contain ':' or ';'.",           // 103
    "The password can not contain ':' or ';'.",            // 104
    "The mail domain can not contain ';'.",                // 105
    "The mail address can not contain ';'.",               // 106
    "The domain name can not contain ';'.",                // 107
    // The update's package that no program of the desktop would open.
    "Can not open the downloaded update file %s. Please install it by hand.",  // 108
};

bool Blank(const std::string& S) { return Trim(S).empty(); }

}  // namespace

constinit TLangStrings LangStrings;

std::string TLangStrings::operator[](int Index) const {
  if (Index < 0 || Index >= LangStringCount) return std::string();
  return FReplaced[Index] ? FItems[Index].get() : std::string(EnglishTexts[Index]);
}

void TLangStrings::Set(int Index, std::string Text) {
  if (Index < 0 || Index >= LangStringCount) return;
  FItems[Index].set(std::move(Text));
  FReplaced[Index] = true;  // after the text: a reader that sees the flag sees the text
}

const char* TLangStrings::Default(int Index) {
  return Index >= 0 && Index < LangStringCount ? EnglishTexts[Index] : "";
}

void TLangStrings::ResetToDefaults() {
  for (int I = 0; I < LangStringCount; ++I) FReplaced[I] = false;
}

void LoadLanguageStrings(const TIniFile& Ini) {
  for (int N = 0; N < LangStringCount; ++N) {
    const std::string Value = Ini.ReadString("Common", std::to_string(N), "");
    if (!Blank(Value)) LangStrings.Set(N, Value);
  }
}

void LoadLanguageFile(const std::string& FileName) {
  const TIniFile Ini(FileName);
  LoadLanguageStrings(Ini);
}

std::string LanguageDir() { return ProgramDir() + "Language/"; }

void LoadLanguageList() {
  std::string Name = "English.ini";
  {
    TRegistry Reg;
    if (Reg.OpenKey(SettingsKey, true)) {
      try {
        if (Reg.ValueExists("LanguageName")) Name = Reg.ReadString("LanguageName");
      } catch (...) {
        Name = "English.ini";
      }
    }
  }
  LanguageName = Name;

  const std::string Folder = LanguageDir();
  LoadLanguageFile(Folder + Name);

  std::vector<std::string> List;
  std::error_code Ec;
  for (std::filesystem::directory_iterator It(Folder, Ec), End; !Ec && It != End; It.increment(Ec)) {
    try {
      const auto& Path = It->path();
      if (LowerCase(Path.extension().string()) != ".ini") continue;
      const TIniFile Ini(Path.string());
      const std::string Display = Ini.ReadString("Info", "Language", "");
      if (Blank(Display)) continue;
      List.push_back(Display + "=" + Path.filename().string());
    } catch (...) {
      // a file that cannot be handled is left out
    }
  }
  std::sort(List.begin(), List.end(), [](const std::string& A, const std::string& B) {
    return LowerCase(A) < LowerCase(B);
  });
  SetLanguageList(std::move(List));
}
