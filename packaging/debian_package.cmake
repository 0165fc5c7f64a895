# The Debian package velmora-suite_<version>_<arch>.deb, made by CPack from
# the install rules (cpack -G DEB, or `make deb`). Library dependencies come
# from dpkg-shlibdeps; the rest are what the programs load or run by name:
# the FreeTDS ODBC driver (tdsodbc registers it as "FreeTDS" through
# odbcinst), the driver manager and the window font.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${SUITE_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Velmora authors")
set(CPACK_PACKAGE_CONTACT "${SUITE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "database console, shrinker and local SQL Server-family engine")
# CPack puts the summary above these lines as the synopsis.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Velmora is a console for one database engine: it starts the engine, installs
a database from a data file, lists, queries, backs up and restores databases.
Brellow logs in as a sysadmin and shrinks user databases. sqlengine is a small
local engine that speaks TDS, the SQL Server wire protocol, and keeps each
database in an SQLite file; a systemd user unit runs it for the user.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SUITE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "tdsodbc, odbcinst, unixodbc, fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "freetds-bin")
# The unit file is written with the install prefix, so the package is staged
# with DESTDIR under the real prefix /usr.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/build.*/;/\\\\.git/")
include(CPack)
