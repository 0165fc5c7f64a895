#pragma once
// The checks RECONFIGURE makes unless WITH OVERRIDE is written: values SQL
// Server takes only when told to, refused before anything is put in use.

namespace sqlengine::exec {

class Session;

// Throws SqlError 5812 without sysadmin or serveradmin, 5808 while 'allow
// updates' is configured 1, 5807 for a recovery interval above 60 minutes.
void RefuseUnrecommendedConfiguration(Session& session);

}  // namespace sqlengine::exec
