// The texts people read, in their language: the PAM module's messages and
// veko2547-ctl's output. The service's log lines, D-Bus texts and JSON are
// never translated: programs read them.
//
//   _("text")    the text in the user's language (LANGUAGE, LC_ALL,
//                LC_MESSAGES, LANG; never in the "C" locale)
//   N_("text")   marks a text kept in a constant, translated where it is used
//
// The catalogues are VEKO_LOCALEDIR/LANG/LC_MESSAGES/veko2547.mo, made by the
// build from the .po files beside this header (the template, veko2547.pot,
// is made by the build too).
#pragma once

#include <libintl.h>

#define VEKO_TEXT_DOMAIN "veko2547"
#define _(text) dgettext(VEKO_TEXT_DOMAIN, text)
#define N_(text) text

// Tells gettext where the catalogues are, with UTF-8 texts. Safe to call
// again; a program calls it once at start, the PAM module at every call (it
// never sets the locale: that is the host's).
inline void vekoBindTextDomain() {
    bindtextdomain(VEKO_TEXT_DOMAIN, VEKO_LOCALEDIR);
    bind_textdomain_codeset(VEKO_TEXT_DOMAIN, "UTF-8");
}
