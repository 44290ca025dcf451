#pragma once
// The update sequencer: the per-port state machine that runs a unit's job from
// the version query to "$X", one step at a time, and its reactions to replies.
#include "update/Protocol.h"

class DialogBootload;
class PortTest;

class Sequencer
{
public:
    explicit Sequencer(DialogBootload &dialog);

    // One step of one port's job (a timer tick, or a reply's step).
    void step(PortTest *port);

    // The reaction to one recognised reply line of one port.
    void onReply(PortTest *port, Protocol::ReplyWord word, const char *line);

private:
    DialogBootload &dlg;
};
