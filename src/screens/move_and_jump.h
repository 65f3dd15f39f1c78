// Moving a whole thread to another folder, and the jump through which the
// automatic links of bodies leave the board.
#pragma once

// JOB "WRITE_MOVE": the form that chooses the target folder of a thread.
void b_WRITE_MOVE();

// JOB "WRITE_MOVEWR": moves the thread (bodies, attachments, confirmations,
// one-line replies) into the target folder under new numbers.
void b_WRITE_MOVEWR();

// JOB "JUMPLINK": sends the browser on to URL, or the error page.
void b_JUMPLINK();
