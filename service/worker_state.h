// State the two workers share: the user id and finger name of the running
// enrolment or verification, and the save of an enrolled finger.
#pragma once

inline constexpr int kWorkerNameSize = 64;

// The enrolment's user id and finger name; on a match, the matched user's id.
extern char m_usrname[kWorkerNameSize];
// The enrolment's finger name, or the verification's finger filter.
extern char m_finger[kWorkerNameSize];

// Writes the merged template of the finished enrolment as the finger file of
// m_usrname / m_finger. 0 = written, -1 = not.
int SaveToMinutiaeFile();
