#include "crashlog/infra/options/option_texts.h"

namespace pelloran::crashlog {

const std::string& WindowTextOf(const TCrashOptionValues& values, TCrashText text) {
  using enum TCrashText;
  const std::string* own = nullptr;
  switch (text) {
    case RequestCaption: own = &values.DialogRequestCaption; break;
    case CallStackHeader: own = &values.DialogCallStackHeader; break;
    case ModulesHeader: own = &values.DialogModulesHeader; break;
    case StackAddressColumn: own = &values.DialogStackAddress; break;
    case StackModuleColumn: own = &values.DialogStackModule; break;
    case StackUnitColumn: own = &values.DialogStackUnit; break;
    case StackClassColumn: own = &values.DialogStackClass; break;
    case StackProcedureColumn: own = &values.DialogStackProcedure; break;
    case StackLineColumn: own = &values.DialogStackLine; break;
    case ModuleHandleColumn: own = &values.DialogModuleHandle; break;
    case ModuleNameColumn: own = &values.DialogModuleName; break;
    case ModuleDescriptionColumn: own = &values.DialogModuleDescription; break;
    case ModuleVersionColumn: own = &values.DialogModuleVersion; break;
    case ModuleSizeColumn: own = &values.DialogModuleSize; break;
    case ModulePathColumn: own = &values.DialogModulePath; break;
    default: break;
  }
  return own != nullptr && !own->empty() ? *own : TextOf(values, text);
}

TWindowTexts WindowTextsOf(const TCrashOptionValues& values) {
  TWindowTexts texts;
  texts.ErrorCaption = TextOf(values, TCrashText::ErrorCaption);
  texts.SmtpErrorMessage = values.SmtpErrorMessage;
  texts.InternalBugCaption = values.InternalBugCaption;
  texts.InternalBugQuestion = values.InternalBugQuestion;
  texts.MailClientMissingCaption = values.MailClientMissingCaption;
  texts.MailClientMissingMessage = values.MailClientMissingMessage;
  return texts;
}

}  // namespace pelloran::crashlog
