#include "update/Sequencer.h"

#include "update/DialogBootload.h"
#include "update/PortTest.h"

Sequencer::Sequencer(DialogBootload &dialog) : dlg(dialog) {}

void Sequencer::step(PortTest *)
{
}

void Sequencer::onReply(PortTest *, Protocol::ReplyWord, const char *)
{
}
