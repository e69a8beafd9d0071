/* Message catalogues are off in this stack: every lookup returns its message.
   GLib links against libintl even without translations; this stands in for it. */
#ifndef KELVARN_LIBINTL_STUB_H
#define KELVARN_LIBINTL_STUB_H

#include <locale.h>

/* Windows has no LC_MESSAGES category; gettext's own header adds the same one. */
#ifndef LC_MESSAGES
#define LC_MESSAGES 1729
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* format_arg: a translated format is checked as the format it translates. */
#define KELVARN_FORMAT_ARG(n) __attribute__((format_arg(n)))

char *gettext(const char *msgid) KELVARN_FORMAT_ARG(1);
char *dgettext(const char *domain, const char *msgid) KELVARN_FORMAT_ARG(2);
char *dcgettext(const char *domain, const char *msgid, int category) KELVARN_FORMAT_ARG(2);
char *ngettext(const char *msgid, const char *msgid_plural, unsigned long n) KELVARN_FORMAT_ARG(1) KELVARN_FORMAT_ARG(2);
char *dngettext(const char *domain, const char *msgid, const char *msgid_plural, unsigned long n)
    KELVARN_FORMAT_ARG(2) KELVARN_FORMAT_ARG(3);
char *dcngettext(const char *domain, const char *msgid, const char *msgid_plural, unsigned long n, int category)
    KELVARN_FORMAT_ARG(2) KELVARN_FORMAT_ARG(3);
char *textdomain(const char *domain);
char *bindtextdomain(const char *domain, const char *dirname);
char *bind_textdomain_codeset(const char *domain, const char *codeset);

#ifdef __cplusplus
}
#endif

#endif
