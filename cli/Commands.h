#pragma once
#include "Arguments.h"

class TProgressPrinter;
class TTerminalPrompt;

// What every command works with: the parsed command line, the printer of status and
// messages (standard error) and the prompt that answers the model's questions.
struct TCliContext {
    const TCliArgs& args;
    TProgressPrinter& printer;
    TTerminalPrompt& prompt;
};

// Each returns the exit status.
int CmdBoxes(TCliContext& c);
int CmdAddBox(TCliContext& c);
int CmdEditBox(TCliContext& c);
int CmdRmBox(TCliContext& c);
int CmdLs(TCliContext& c);
int CmdPut(TCliContext& c);
int CmdMkdir(TCliContext& c);
int CmdRm(TCliContext& c);
int CmdGet(TCliContext& c);
int CmdFind(TCliContext& c);
int CmdInfo(TCliContext& c);
