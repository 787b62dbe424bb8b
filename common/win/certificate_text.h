// String ids of the words for a refused server certificate (common/certificate_problem.h), in a
// range of their own: every program's .rc includes certificate_text.rc beside its own tables.
#pragma once

#define IDS_CERT_UNTRUSTED 24577
#define IDS_CERT_UNCHECKABLE 24578
#define IDS_CERT_EXPIRED 24579
#define IDS_CERT_WRONG_NAME 24580
#define IDS_CERT_INVALID 24581
#define IDS_CERT_REVOKED 24582
#define IDS_CERT_CLIENT_CERTIFICATE 24583
#define IDS_CERT_SECURE_CHANNEL 24584
