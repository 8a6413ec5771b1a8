#pragma once
// Copy As MIDlet over the link, with no widgets: installs a JAD/JAR suite from a PC folder into
// the handset's application store, which is plain files in the phone folder the link listed last
// (TPhoneLink::PhoneDir, its records PhoneRecords). The two index files are fetched into the
// JAD's folder, checked and extended there (only copies fetched just now: a kept older copy
// stops the installation), the suite's four files are made beside them, and all six go to the
// handset. Its question goes to the link's asker; what stopped it comes back as its result, for
// whoever drives it to show (the link reports its own failures as usual).
#include <string>

#include "phone/Task.h"

class TPhoneLink;

// `jadPath` names the descriptor; its JAR is the file of the descriptor's MIDlet-Jar-URL in the
// same folder, found without regard to case. The caller has checked that the link is online.
// Installed once all six files have been written to the handset; otherwise Error says why (empty
// when there is nothing more to say: the link has reported it, or the user said No).
struct MidletInstall {
    bool Installed = false;
    std::string Error;
};
Task<MidletInstall> InstallMidlet(TPhoneLink& link, std::string jadPath);
