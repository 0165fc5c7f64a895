// The message table: SQL Server 2000's numbers, severities and texts.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/common/error.h"

namespace sqlengine {
namespace {

// Sorted by number. kCompileError marks the errors SQL Server finds when it
// compiles a statement.
constexpr MessageTemplate kMessages[] = {
    {102, 15, "Incorrect syntax near '%.*ls'."},
    {103, 15, "The identifier that starts with '%.*ls' is too long. Maximum length is %d."},
    {104, 15,
     "ORDER BY items must appear in the select list if the statement contains a UNION "
     "operator.", kCompileError},
    {105, 15, "Unclosed quotation mark before the character string '%.*ls'."},
    {107, 16,
     "The column prefix '%.*ls' does not match with a table name or alias name used in the "
     "query.", kCompileError},
    {108, 16,
     "The ORDER BY position number %ld is out of range of the number of items in the select "
     "list.", kCompileError},
    {109, 15,
     "There are more columns in the INSERT statement than values specified in the VALUES "
     "clause. The number of values in the VALUES clause must match the number of columns "
     "specified in the INSERT statement.", kCompileError},
    {110, 15,
     "There are fewer columns in the INSERT statement than values specified in the VALUES "
     "clause. The number of values in the VALUES clause must match the number of columns "
     "specified in the INSERT statement.", kCompileError},
    {111, 15, "'%.*ls' must be the first statement in a query batch."},
    {113, 15, "Missing end comment mark '*/'."},
    {116, 16,
     "Only one expression can be specified in the select list when the subquery is not "
     "introduced with EXISTS.", kCompileError},
    {117, 15,
     "The object name '%.*ls' contains more than the maximum number of prefixes. The maximum "
     "is %d."},
    {119, 15,
     "Must pass parameter number %d and subsequent parameters as '@name = value'. After the "
     "form '@name = value' has been used, all subsequent parameters must be passed in the form "
     "'@name = value'."},
    {120, 15,
     "The select list for the INSERT statement contains fewer items than the insert list. The "
     "number of SELECT values must match the number of INSERT columns.", kCompileError},
    {121, 15,
     "The select list for the INSERT statement contains more items than the insert list. The "
     "number of SELECT values must match the number of INSERT columns.", kCompileError},
    {128, 15,
     "The name '%.*ls' is not permitted in this context. Only constants, expressions, or "
     "variables allowed here. Column names are not permitted."},
    {130, 15,
     "Cannot perform an aggregate function on an expression containing an aggregate or a "
     "subquery.", kCompileError},
    {132, 15,
     "The label '%.*ls' has already been declared. Label names must be unique within a query "
     "batch or stored procedure."},
    {133, 15, "A GOTO statement references the label '%.*ls' but the label has not been declared."},
    {134, 15,
     "The variable name '%.*ls' has already been declared. Variable names must be unique "
     "within a query batch or stored procedure."},
    {137, 15, "Must declare the variable '%.*ls'."},
    {141, 15,
     "A SELECT statement that assigns a value to a variable must not be combined with "
     "data-retrieval operations."},
    {144, 15,
     "Cannot use an aggregate or a subquery in an expression used for the group by list of a "
     "GROUP BY clause.", kCompileError},
    {145, 15, "ORDER BY items must appear in the select list if SELECT DISTINCT is specified.",
     kCompileError},
    {147, 15,
     "An aggregate may not appear in the WHERE clause unless it is in a subquery contained in a "
     "HAVING clause or a select list, and the column being aggregated is an outer reference.",
     kCompileError},
    {148, 15, "Incorrect time syntax in time string '%.*ls' used with WAITFOR."},
    {155, 15, "'%.*ls' is not a recognized %ls option."},
    {156, 15, "Incorrect syntax near the keyword '%.*ls'."},
    {166, 15,
     "'%.*ls' does not allow specifying the database name as a prefix to the object name."},
    {170, 15, "Line %d: Incorrect syntax near '%.*ls'."},
    {174, 15, "The %.*ls function requires %d argument(s).", kCompileError},
    {177, 15,
     "The IDENTITY function can only be used when the SELECT statement has an INTO clause."},
    {178, 15, "A RETURN statement with a return value cannot be used in this context."},
    {189, 15, "The %.*ls function requires %d to %d arguments.", kCompileError},
    {191, 15,
     "Some part of your SQL statement is nested too deeply. Rewrite the query or break it up "
     "into smaller queries."},
    {195, 15, "'%.*ls' is not a recognized %ls.", kCompileError},
    {201, 16, "Procedure '%.*ls' expects parameter '%.*ls', which was not supplied."},
    {205, 16,
     "All queries in an SQL statement containing a UNION operator must have an equal number "
     "of expressions in their target lists.", kCompileError},
    {207, 16, "Invalid column name '%.*ls'.", kCompileError},
    {208, 16, "Invalid object name '%.*ls'."},
    {209, 16, "Ambiguous column name '%.*ls'.", kCompileError},
    {213, 16,
     "Insert Error: Column name or number of supplied values does not match table definition.",
     kCompileError},
    {217, 16,
     "Maximum stored procedure, function, trigger, or view nesting level exceeded (limit %d)."},
    {220, 16, "Arithmetic overflow error for data type %ls, value = %ld."},
    {226, 16, "%ls statement not allowed within multi-statement transaction."},
    {229, 14, "%ls permission denied on object '%.*ls', database '%.*ls', owner '%.*ls'."},
    {230, 14,
     "%ls permission denied on column '%.*ls' of object '%.*ls', database '%.*ls', owner "
     "'%.*ls'."},
    {232, 16, "Arithmetic overflow error for type %ls, value = %f."},
    {234, 16, "There is insufficient result space to convert a money value to %ls."},
    {235, 16, "Cannot convert a char value to money. The char value has incorrect syntax."},
    {241, 16, "Syntax error converting datetime from character string."},
    {242, 16,
     "The conversion of a char data type to a datetime data type resulted in an out-of-range "
     "datetime value."},
    {243, 16, "Type %.*ls is not a defined system type."},
    {245, 16, "Syntax error converting the varchar value '%.*ls' to a column of data type %ls."},
    {259, 16,
     "Ad hoc updates to system catalogs are not enabled. The system administrator must "
     "reconfigure SQL Server to allow this."},
    {262, 16, "%ls permission denied in database '%.*ls'."},
    {264, 16, "Column name '%.*ls' appears more than once in the result column list.",
     kCompileError},
    {266, 16,
     "Transaction count after EXECUTE indicates that a COMMIT or ROLLBACK TRANSACTION statement "
     "is missing. Previous count = %ld, current count = %ld."},
    {271, 16,
     "The column \"%.*ls\" cannot be modified because it is either a computed column or is the "
     "result of a UNION operator."},
    {272, 16, "Cannot update a timestamp column."},
    {273, 16,
     "Cannot insert a non-null value into a timestamp column. Use INSERT with a column list or "
     "with a default of NULL for the timestamp column."},
    {281, 16, "%d is not a valid style number when converting from %ls to a character string."},
    {282, 10,
     "The '%.*ls' procedure attempted to return a status of NULL, which is not allowed. A status "
     "of 0 will be returned instead."},
    {293, 16, "Cannot convert char value to smallmoney. The char value has incorrect syntax."},
    {296, 16,
     "The conversion of char data type to smalldatetime data type resulted in an out-of-range "
     "smalldatetime value."},
    {298, 16,
     "The conversion from datetime data type to smalldatetime data type resulted in a "
     "smalldatetime overflow error."},
    {306, 16,
     "The text, ntext, and image data types cannot be compared or sorted, except when using IS "
     "NULL or LIKE operator."},
    {310, 16,
     "The value %d specified for the MAXRECURSION option exceeds the allowed maximum of %d."},
    {313, 16,
     "An insufficient number of arguments were supplied for the procedure or function %.*ls."},
    {321, 15, "%.*ls is not a recognized table hints option."},
    {402, 16, "The data types %ls and %ls are incompatible in the %ls operator."},
    {409, 16, "The %ls operation cannot take a %ls data type as an argument.", kCompileError},
    {443, 16, "Invalid use of '%.*ls' within a function."},
    {444, 16, "Select statements included within a function cannot return data to a client."},
    {446, 16, "Cannot resolve collation conflict for %ls operation."},
    {447, 16, "Expression type %ls is invalid for COLLATE clause."},
    {448, 16, "Invalid collation '%.*ls'."},
    {449, 16, "Collation conflict caused by collate clauses with different collation '%.*ls' and '%.*ls'."},
    {451, 16, "Cannot resolve collation conflict for column %d in %ls statement."},
    {506, 16, "Invalid escape character '%.*ls' was specified in a %ls predicate."},
    {512, 16,
     "Subquery returned more than 1 value. This is not permitted when the subquery follows =, "
     "!=, <, <= , >, >= or when the subquery is used as an expression."},
    {513, 16,
     "A column insert or update conflicts with a rule imposed by a previous CREATE RULE "
     "statement. The statement was terminated. The conflict occurred in database '%.*ls', "
     "table '%.*ls', column '%.*ls'."},
    {515, 16,
     "Cannot insert the value NULL into column '%.*ls', table '%.*ls'; column does not "
     "allow nulls. %ls fails."},
    {517, 16, "Adding a value to a '%ls' column caused overflow."},
    {529, 16, "Explicit conversion from data type %ls to %ls is not allowed."},
    {530, 16,
     "The statement terminated. The maximum recursion %d has been exhausted before statement "
     "completion."},
    {535, 16, "Difference of two datetime columns caused overflow at runtime."},
    {536, 16, "Invalid length parameter passed to the substring function."},
    {544, 16,
     "Cannot insert explicit value for identity column in table '%.*ls' when IDENTITY_INSERT is "
     "set to OFF."},
    {547, 16,
     "%ls statement conflicted with %ls %ls constraint '%.*ls'. The conflict occurred in "
     "database '%.*ls', table '%.*ls'%ls%.*ls%ls."},
    {550, 16,
     "The attempted insert or update failed because the target view either specifies WITH "
     "CHECK OPTION or spans a view that specifies WITH CHECK OPTION and one or more rows "
     "resulting from the operation did not qualify under the CHECK OPTION constraint."},
    {628, 16, "Cannot issue SAVE TRANSACTION when there is no active transaction."},
    {911, 16,
     "Could not locate entry in sysdatabases for database '%.*ls'. No entry found with "
     "that name. Make sure that the name is entered correctly."},
    {916, 14, "Server user '%.*ls' is not a valid user in database '%.*ls'."},
    {923, 14,
     "Database '%.*ls' is in restricted mode. Only the database owner and members of the "
     "dbcreator and sysadmin roles can access it."},
    {924, 14, "Database '%.*ls' is already open and can only have one user at a time."},
    {942, 14, "Database '%.*ls' cannot be opened because it is offline."},
    {1007, 15,
     "The number '%.*ls' is out of the range for numeric representation (maximum precision "
     "38)."},
    {1014, 16, "A TOP N value may not be negative."},
    {1026, 16, "GOTO cannot be used to jump into a TRY or CATCH scope."},
    {1033, 15,
     "The ORDER BY clause is invalid in views, inline functions, derived tables, and subqueries, "
     "unless TOP is also specified."},
    {1046, 15,
     "Subqueries are not allowed in this context. Only scalar expressions are allowed."},
    {1062, 16,
     "The TOP N WITH TIES clause is not allowed without a corresponding ORDER BY clause."},
    {1065, 15,
     "The NOLOCK and READUNCOMMITTED lock hints are not allowed for target tables of INSERT, "
     "UPDATE or DELETE statements."},
    {1087, 15, "Must declare the table variable \"%.*ls\"."},
    {1205, 13,
     "Transaction (Process ID %d) was deadlocked on lock resources with another process and has "
     "been chosen as the deadlock victim. Rerun the transaction."},
    {1222, 16, "Lock request time out period exceeded."},
    {1505, 16,
     "CREATE UNIQUE INDEX terminated because a duplicate key was found for index ID %d. Most "
     "significant primary key is '%.*ls'."},
    {1752, 16, "Column '%.*ls' in table '%.*ls' is invalid for creating a default constraint."},
    {1754, 16,
     "Defaults cannot be created on columns with an IDENTITY attribute. Table '%.*ls', column "
     "'%.*ls'."},
    {1755, 16, "Defaults cannot be created on columns of data type timestamp."},
    {1756, 10,
     "Skipping FOREIGN KEY constraint '%.*ls' definition for temporary table. FOREIGN KEY "
     "constraints are not enforced on local or global temporary tables."},
    {1759, 16,
     "Computed column '%.*ls' in table '%.*ls' is not allowed to be used in another "
     "computed-column definition."},
    {1763, 16, "Cross-database foreign key references are not supported. Foreign key '%.*ls'."},
    {1767, 16, "Foreign key '%.*ls' references invalid table '%.*ls'."},
    {1769, 16,
     "Foreign key '%.*ls' references invalid column '%.*ls' in referencing table '%.*ls'."},
    {1770, 16,
     "Foreign key '%.*ls' references invalid column '%.*ls' in referenced table '%.*ls'."},
    {1776, 16,
     "There are no primary or candidate keys in the referenced table '%.*ls' that match the "
     "referencing column list in the foreign key '%.*ls'."},
    {1781, 16, "Column already has a DEFAULT bound to it."},
    {1801, 16, "Database '%.*ls' already exists."},
    {1802, 11,
     "CREATE DATABASE failed. Some file names listed could not be created. Check previous "
     "errors."},
    {1813, 16, "Could not open new database '%.*ls'. CREATE DATABASE is aborted."},
    {1828, 16, "The file named '%.*ls' is already in use. Choose another name."},
    {1829, 16, "The FOR ATTACH option requires that at least the primary file be specified."},
    {1902, 16,
     "Cannot create more than one clustered index on table '%.*ls'. Drop the existing clustered "
     "index '%.*ls' before creating another."},
    {1913, 16, "There is already an index on table '%.*ls' named '%.*ls'."},
    {1933, 16, "Cannot create index because the key column '%.*ls' is non-deterministic or imprecise."},
    {1939, 16, "Cannot create index on view '%.*ls' because the view is not schema bound."},
    {1940, 16, "Cannot create index on view '%.*ls'. It does not have a unique clustered index."},
    {1941, 16,
     "Cannot create nonunique clustered index on view '%.*ls' because only unique clustered "
     "indexes are allowed."},
    {2501, 16, "Could not find a table or object named '%.*ls'. Check sysobjects."},
    {2520, 16, "Could not find database '%.*ls'. Check sysdatabases."},
    {2526, 16,
     "Incorrect DBCC statement. Check the documentation for the correct DBCC syntax and options."},
    {2528, 10,
     "DBCC execution completed. If DBCC printed error messages, contact your system "
     "administrator."},
    {2534, 16,
     "Table error: Page %S_PGID allocated to object ID %d, index ID %d was not seen. Page may "
     "be invalid or have incorrect object ID information in its header."},
    {2536, 10, "DBCC results for '%.*ls'."},
    {2571, 14, "User '%.*ls' does not have permission to run DBCC %.*ls."},
    {2593, 10, "There are %d rows in %d pages for object '%.*ls'."},
    {2601, 14, "Cannot insert duplicate key row in object '%.*ls' with unique index '%.*ls'."},
    {2627, 14,
     "Violation of %ls constraint '%.*ls'. Cannot insert duplicate key in object '%.*ls'."},
    {2705, 16,
     "Column names in each table must be unique. Column name '%.*ls' in table '%.*ls' is "
     "specified more than once."},
    {2714, 16, "There is already an object named '%.*ls' in the database."},
    {2715, 16, "Column or parameter #%d: Cannot find data type %.*ls."},
    {2732, 16,
     "Error number %ld is invalid. The number must be from %ld through %ld and it cannot be "
     "50000."},
    {2738, 16,
     "A table can only have one timestamp column. Because table '%.*ls' already has one, the "
     "column '%.*ls' cannot be added."},
    {2740, 16,
     "SET LANGUAGE failed because '%.*ls' is not an official language name or a language alias "
     "on this SQL Server."},
    {2741, 16, "SET DATEFORMAT date order '%.*ls' is invalid."},
    {2742, 16, "SET DATEFIRST %d is out of range."},
    {2748, 16, "Cannot specify %ls data type (parameter %d) as a substitution parameter."},
    {2749, 16,
     "Identity column '%.*ls' must be of data type int, bigint, smallint, tinyint, or decimal or "
     "numeric with a scale of 0, and constrained to be nonnullable."},
    {2754, 16,
     "Error severity levels greater than %d can only be specified by members of the "
     "sysadmin role, using the WITH LOG option."},
    {2758, 16, "RAISERROR could not locate entry for error %d in Sysmessages."},
    {2760, 16,
     "Specified owner name '%.*ls' either does not exist or you do not have permission to use "
     "it."},
    {2767, 15, "Could not locate statistics '%.*ls' in the system catalogs."},
    {2812, 16, "Could not find stored procedure '%.*ls'."},
    {3013, 16, "%hs is terminating abnormally."},
    {3014, 10, "%hs successfully processed %d pages in %d.%03d seconds (%d.%03d MB/sec)."},
    {3101, 16, "Exclusive access could not be obtained because the database is in use."},
    {3108, 16,
     "RESTORE DATABASE must be used in single user mode when trying to restore the master "
     "database."},
    {3110, 14, "User does not have permission to RESTORE database '%.*ls'."},
    {3147, 16, "Backup and restore operations are not allowed on database tempdb."},
    {3154, 16,
     "The backup set holds a backup of a database other than the existing '%ls' database."},
    {3156, 16,
     "File '%ls' cannot be restored to '%ls'. Use WITH MOVE to identify a valid location for the "
     "file."},
    {3201, 16,
     "Cannot open backup device '%ls'. Device error or device off-line. See the SQL Server "
     "error log for more details."},
    {3211, 10, "%d percent %hs."},
    {3234, 16,
     "Logical file '%.*ls' is not part of database '%ls'. Use RESTORE FILELISTONLY to list "
     "the logical file names."},
    {3262, 10, "The backup set is valid."},
    {3604, 10, "Duplicate key was ignored."},
    {3606, 10, "Arithmetic overflow occurred."},
    {3607, 10, "Division by zero occurred."},
    {3609, 16, "The transaction ended in the trigger. The batch has been aborted."},
    {3621, 10, "The statement has been terminated."},
    {3622, 10, "A domain error occurred."},
    {3623, 16, "A domain error occurred."},
    {3701, 11,
     "Cannot %S_MSG the %S_MSG '%.*ls', because it does not exist in the system catalog."},
    {3702, 16, "Cannot drop the %S_MSG '%.*ls' because it is currently in use."},
    {3703, 16, "Cannot detach the %S_MSG '%.*ls' because it is currently in use."},
    {3704, 16, "User does not have permission to perform this operation on %S_MSG '%.*ls'."},
    {3705, 16, "Cannot use DROP %ls with '%.*ls' because '%.*ls' is a %S_MSG. Use DROP %ls."},
    {3708, 16, "Cannot %S_MSG the %S_MSG '%.*ls' because it is a system %S_MSG."},
    {3716, 16, "The %S_MSG '%.*ls' cannot be dropped because it is bound to one or more %S_MSG."},
    {3725, 16,
     "The constraint '%.*ls' is being referenced by table '%.*ls', foreign key constraint "
     "'%.*ls'."},
    {3727, 16, "Could not drop constraint. See previous errors."},
    {3728, 16, "'%.*ls' is not a constraint."},
    {3902, 16, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION."},
    {3903, 16, "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION."},
    {3906, 16, "Failed to update database \"%.*ls\" because the database is read-only."},
    {4002, 16,
     "The incoming tabular data stream (TDS) protocol stream is incorrect. The stream ended "
     "unexpectedly."},
    {4022, 16, "Bulk load data was expected but not sent. The batch will be terminated."},
    {4035, 10, "Processed %d pages for database '%ls', file '%ls' on file %d."},
    {4060, 11, "Cannot open database requested in login '%.*ls'. Login fails."},
    {4064, 11, "Cannot open user default database. Login failed."},
    {4103, 15, "\"%.*ls\": Temporary views and functions are not allowed."},
    {4121, 16,
     "Cannot find either column \"%.*ls\" or the user-defined function or aggregate \"%.*ls\", or "
     "the name is ambiguous."},
    {4127, 16, "At least one of the arguments to COALESCE must be a typed NULL."},
    {4208, 16,
     "The statement %hs is not allowed while the recovery model is SIMPLE. Use BACKUP DATABASE "
     "or change the recovery model using ALTER DATABASE."},
    {4214, 16, "BACKUP LOG cannot be performed because there is no current database backup."},
    {4403, 16, "View or function '%.*ls' is not updatable because it contains aggregates."},
    {4405, 16,
     "View or function '%.*ls' is not updatable because the modification affects multiple "
     "base tables."},
    {4406, 16,
     "Update or insert of view or function '%.*ls' failed because it contains a derived or "
     "constant field."},
    {4414, 16,
     "Could not allocate ancillary table for view or function resolution. The maximum number "
     "of tables in a query (%d) was exceeded."},
    {4426, 16, "View '%.*ls' is not updatable because the definition contains a UNION operator."},
    {4506, 16,
     "Column names in each view or function must be unique. Column name '%.*ls' in view or "
     "function '%.*ls' is specified more than once."},
    {4508, 16,
     "Views or functions are not allowed on temporary tables. Table names that begin with '#' "
     "denote temporary tables."},
    {4511, 16,
     "Create View or Function failed because no column name was specified for column %d."},
    {4604, 16, "There is no such user or group '%.*ls'."},
    {4610, 16, "You can only grant or revoke permissions on objects in the current database."},
    {4611, 16, "To revoke grantable privileges, specify the CASCADE option with REVOKE."},
    {4613, 16, "Grantor does not have GRANT permission."},
    {4712, 16,
     "Cannot truncate table '%.*ls' because it is being referenced by a FOREIGN KEY constraint."},
    {4815, 16, "Received an invalid column length from the bcp client for colid %d."},
    {4816, 16, "Invalid column type from bcp client for colid %d."},
    {4901, 16,
     "ALTER TABLE only allows columns to be added that can contain nulls or have a DEFAULT "
     "definition specified. Column '%.*ls' cannot be added to table '%.*ls' because it does not "
     "allow nulls and does not specify a DEFAULT definition."},
    {4902, 16, "Cannot alter table '%.*ls' because this table does not exist in database '%.*ls'."},
    {4917, 16, "Constraint '%.*ls' does not exist."},
    {4922, 16, "%ls %.*ls failed because one or more objects access this column."},
    {4924, 16,
     "ALTER TABLE ALTER COLUMN failed because column '%.*ls' does not exist in table '%.*ls'."},
    {4927, 16, "Cannot alter column '%.*ls' to be data type %.*ls."},
    {4928, 16, "Cannot alter column '%.*ls' because it is '%ls'."},
    {5002, 16, "Database '%.*ls' does not exist. Check sysdatabases."},
    {5058, 16, "Option '%.*ls' cannot be set in database '%.*ls'."},
    {5061, 16,
     "ALTER DATABASE failed because a lock could not be placed on database '%.*ls'. Try "
     "again later."},
    {5069, 16, "ALTER DATABASE statement failed."},
    {5070, 16, "Database state cannot be changed while other users are using the database '%.*ls'"},
    {5074, 16, "The %ls '%.*ls' is dependent on column '%.*ls'."},
    {5105, 16, "Device activation error. The physical file name '%.*ls' may be incorrect."},
    {5120, 16, "Unable to open the physical file \"%.*ls\". Operating system error %d: \"%ls\"."},
    {5123, 16,
     "CREATE FILE encountered operating system error %ls while attempting to open or "
     "create the physical file '%.*ls'."},
    {5170, 16, "Cannot create file '%.*ls' because it already exists."},
    {5182, 16, "New log file '%.*ls' was created."},
    {5201, 10,
     "DBCC SHRINKDATABASE: File ID %d of database ID %d was skipped because the file does not "
     "have enough free space to reclaim."},
    {5701, 10, "Changed database context to '%.*ls'."},
    {5703, 10, "Changed language setting to %.*ls."},
    {5807, 16,
     "Recovery intervals above 60 minutes not recommended. Use the RECONFIGURE WITH OVERRIDE "
     "statement to force this configuration."},
    {5808, 16,
     "Ad hoc updates to system catalogs not recommended. Use the RECONFIGURE WITH OVERRIDE "
     "statement to force this configuration."},
    {5812, 14, "You do not have permission to run the RECONFIGURE statement."},
    {6004, 14, "User does not have permission to perform this action."},
    {6102, 14, "User does not have permission to use the KILL statement."},
    {6104, 16, "Cannot use KILL to kill your own process."},
    {6106, 16, "Process ID %d is not an active process ID."},
    {6120, 16,
     "Status report cannot be obtained. Rollback operation for Process ID %d is not in "
     "progress."},
    {6401, 16, "Cannot roll back %.*ls. No transaction or savepoint of that name was found."},
    {6801, 16,
     "FOR XML EXPLICIT requires the first column to hold positive integers that represent XML "
     "tag IDs."},
    {6803, 16,
     "FOR XML EXPLICIT requires the second column to hold NULL or nonnegative integers that "
     "represent XML parent tag IDs."},
    {6806, 16, "Undeclared tag ID %d is used in a FOR XML EXPLICIT query."},
    {6807, 16, "Undeclared parent tag ID %d is used in a FOR XML EXPLICIT query."},
    {6819, 16, "The FOR XML clause is not allowed in a %ls statement."},
    {6825, 16, "ELEMENTS mode requires FOR XML AUTO."},
    {6833, 16,
     "Parent tag ID %d is not among the open tags. FOR XML EXPLICIT requires parent tags to be "
     "opened first. Check the ordering of the result set."},
    {7104, 16,
     "Offset or size of data type is not valid. Data type must be of type int or smallint."},
    {7116, 16, "Offset %d is not in the range of available LOB data."},
    {7122, 16, "Invalid text, ntext, or image pointer type. Must be binary(16)."},
    {7123, 16, "Invalid text, ntext, or image pointer value %hs."},
    {7124, 16,
     "The offset and length specified in the READTEXT statement is greater than the actual "
     "data length of %ld."},
    {7125, 16, "The text, ntext, or image pointer value conflicts with the column name specified."},
    {7133, 16, "NULL textptr (text, ntext, or image pointer) passed to %ls function."},
    {7135, 16, "Deletion length %ld is not in the range of available text, ntext, or image data."},
    {7997, 16, "'%.*ls' does not contain an identity column."},
    {7998, 10,
     "Checking identity information: current identity value '%hs', current column value "
     "'%hs'."},
    {7999, 16, "Could not find any index named '%.*ls' for table '%.*ls'."},
    {8009, 16,
     "The incoming tabular data stream (TDS) remote procedure call (RPC) protocol stream is "
     "incorrect. Parameter %d (\"%.*ls\"): Data type 0x%02X is unknown."},
    {8016, 16,
     "The incoming tabular data stream (TDS) remote procedure call (RPC) protocol stream is "
     "incorrect. Parameter %d (\"%.*ls\"): Data type 0x%02X has an invalid data length or "
     "metadata length."},
    {8023, 16,
     "The incoming tabular data stream (TDS) remote procedure call (RPC) protocol stream is "
     "incorrect. Parameter %d (\"%.*ls\"): The supplied value is not a valid instance of data "
     "type %ls. Check the source data for invalid values. An example of an invalid value is data "
     "of numeric type with scale greater than precision."},
    {8104, 16,
     "The current user is not the database or object owner of table '%.*ls'. Cannot perform SET "
     "operation."},
    {8106, 16, "Table '%.*ls' does not have the identity property. Cannot perform SET operation."},
    {8107, 16,
     "IDENTITY_INSERT is already ON for table '%.*ls'. Cannot perform SET operation for table "
     "'%.*ls'."},
    {8108, 16,
     "Cannot add identity column, using the SELECT INTO statement, to table '%.*ls', which "
     "already has column '%.*ls' that inherits the identity property."},
    {8112, 16, "Cannot add more than one clustered index for constraints on table '%.*ls'."},
    {8114, 16, "Error converting data type %ls to %ls."},
    {8115, 16, "Arithmetic overflow error converting %ls to data type %ls."},
    {8116, 16, "Argument data type %ls is invalid for argument %d of %ls function.", kCompileError},
    {8117, 16, "Operand data type %ls is invalid for %ls operator.", kCompileError},
    {8118, 16,
     "Column '%.*ls' is invalid in the select list because it is not contained in an "
     "aggregate function and there is no GROUP BY clause.", kCompileError},
    {8120, 16,
     "Column '%.*ls' is invalid in the select list because it is not contained in either an "
     "aggregate function or the GROUP BY clause.", kCompileError},
    {8121, 16,
     "Column '%.*ls' is invalid in the HAVING clause because it is not contained in either an "
     "aggregate function or the GROUP BY clause.", kCompileError},
    {8127, 16,
     "Column name '%.*ls' is invalid in the ORDER BY clause because it is not contained in "
     "either an aggregate function or the GROUP BY clause.", kCompileError},
    {8134, 16, "Divide by zero error encountered."},
    {8143, 16, "Parameter '%.*ls' was supplied multiple times."},
    {8144, 16, "Procedure or function %.*ls has too many arguments specified."},
    {8145, 16, "%.*ls is not a parameter for procedure %.*ls."},
    {8146, 16, "Procedure %.*ls has no parameters and arguments were supplied."},
    {8152, 16, "String or binary data would be truncated."},
    {8153, 10, "Warning: Null value is eliminated by an aggregate or other SET operation."},
    {8155, 16, "No column was specified for column %d of '%.*ls'.", kCompileError},
    {8158, 16, "'%.*ls' has more columns than were specified in the column list.", kCompileError},
    {8159, 16, "'%.*ls' has fewer columns than were specified in the column list.", kCompileError},
    {8163, 16, "The text, ntext, or image data type cannot be selected as DISTINCT."},
    {8169, 16, "Syntax error converting from a character string to uniqueidentifier."},
    {8170, 16, "Insufficient result space to convert uniqueidentifier value to char."},
    {8179, 16, "Could not find prepared statement with handle %d."},
    {8180, 16, "Statement(s) could not be prepared."},
    {8939, 16,
     "Table error: Object ID %d, index ID %d, page %S_PGID. Test (%hs) failed. Values are %ld "
     "and %ld."},
    {8951, 16,
     "Table error: Table '%.*ls' (ID %d). Missing or invalid key in index '%.*ls' (ID %d) for "
     "the row:"},
    {8958, 10, "%ls is the minimum repair level for the errors found by DBCC %ls (%ls)."},
    {8985, 16, "Could not locate file '%.*ls' in sysfiles."},
    {8989, 10, "%.*ls found %d allocation errors and %d consistency errors in database '%.*ls'."},
    {8990, 10,
     "%.*ls found %d allocation errors and %d consistency errors in table '%.*ls' (object ID "
     "%d)."},
    {8992, 16, "Check Catalog Msg %d, State %d: %.*ls"},
    {15001, 16, "Object '%s' does not exist or is not a valid object for this operation."},
    {15002, 16, "The procedure '%s' cannot be executed within a transaction."},
    {15006, 16, "'%s' is not a valid name because it contains invalid characters."},
    {15007, 16, "The login '%s' does not exist."},
    {15008, 16, "User '%s' does not exist in the current database."},
    {15009, 16, "The object '%s' does not exist in database '%s'."},
    {15010, 16, "The database '%s' does not exist. Use sp_helpdb to show available databases."},
    {15011, 16, "Database option '%s' does not exist. Specify a valid database option."},
    {15014, 16, "The role '%s' does not exist."},
    {15015, 16, "The server '%s' does not exist. Use sp_helpserver to show available servers."},
    {15016, 16, "The default '%s' does not exist."},
    {15017, 16, "The rule '%s' does not exist."},
    {15023, 16, "User or role '%s' already exists in the current database."},
    {15025, 16, "The login '%s' already exists."},
    {15029, 16, "The type '%s' already exists, or you do not have permission to create it."},
    {15033, 16, "'%s' is not a valid official language name."},
    {15036, 16, "The data type '%s' does not exist or you do not have permission."},
    {15040, 16, "User-defined error messages must have an ID greater than 50000."},
    {15041, 16, "User-defined error messages must have a severity level between 1 and 25."},
    {15043, 16, "You must specify 'REPLACE' to overwrite an existing message."},
    {15048, 16, "Valid values of database compatibility level are 60, 65, 70, or 80."},
    {15054, 10, "The current compatibility level is %d."},
    {15063, 16, "The login already has an account under a different user name."},
    {15070, 10, "Object '%s' was successfully marked for recompilation."},
    {15097, 16, "The size associated with an extended property cannot be more than 7,500 bytes."},
    {15109, 16, "Cannot change the owner of the master database."},
    {15110, 16, "The proposed new database owner is already a user or aliased in the database."},
    {15118, 16,
     "Password validation failed. The password does not meet policy requirements because it is "
     "too short."},
    {15123, 16, "The configuration option '%s' does not exist, or it may be an advanced option."},
    {15124, 16, "The configuration option '%s' is not unique."},
    {15129, 16, "'%d' is not a valid value for configuration option '%s'."},
    {15135, 16,
     "Object is invalid. Extended properties are not permitted on '%s', or the object does not "
     "exist."},
    {15144, 16, "The role has members. It must be empty before it can be dropped."},
    {15148, 16, "The data type or table column '%s' does not exist or you do not have permission."},
    {15153, 16, "The filegroup '%s' does not exist in this database."},
    {15174, 16,
     "Login '%s' owns one or more database(s). Change the owner of the database(s) before "
     "dropping the login."},
    {15175, 16,
     "Login '%s' is aliased or mapped to a user in one or more database(s). Drop the user or "
     "alias before dropping the login."},
    {15178, 16, "Cannot drop a message with an ID less than 50,000."},
    {15179, 16, "Message number %d does not exist."},
    {15180, 16, "Cannot drop. The data type is being used."},
    {15197, 16, "There is no text for object '%s'."},
    {15211, 16, "Old (current) password incorrect for user. The password was not changed."},
    {15217, 16, "Property cannot be updated or deleted. Property '%s' does not exist for '%s'."},
    {15233, 16, "Property cannot be added. Property '%s' already exists for '%s'."},
    {15241, 16, "Usage: sp_dboption [dbname [,optname [,'true' | 'false']]]"},
    {15242, 16, "Database option '%s' is not unique."},
    {15247, 16, "User does not have permission to perform this action."},
    {15248, 11,
     "Either the parameter @objname is ambiguous or the claimed @objtype (%s) is wrong."},
    {15250, 16,
     "The database name component of the object qualifier must be the name of the current "
     "database."},
    {15252, 16, "The primary key or foreign key table name must be given."},
    {15330, 11, "There are no matching rows on which to report."},
    {15335, 11,
     "Error: The new name '%s' is already in use as a %s name and would cause a duplicate "
     "that is not permitted."},
    {15405, 11, "Cannot use the reserved user or role name '%s'."},
    {15409, 11, "'%s' is not a role."},
    {15410, 11, "User or role '%s' does not exist in this database."},
    {15412, 11, "'%s' is not a known fixed role."},
    {15413, 11, "Cannot make a role a member of itself."},
    {15434, 16, "Could not drop login '%s' as the user is currently logged in."},
    {15457, 0,
     "Configuration option '%ls' changed from %ld to %ld. Run the RECONFIGURE statement to "
     "install."},
    {15459, 10, "In the current database, the specified object references the following:"},
    {15460, 10, "In the current database, the specified object is referenced by the following:"},
    {15461, 10, "Object does not reference any object, and no objects reference it."},
    {15469, 10, "No constraints have been defined for this object."},
    {15470, 10, "No foreign keys reference this table."},
    {15471, 10, "The object comments have been encrypted."},
    {15472, 10, "The object '%ls' does not have any indexes, or you do not have permissions."},
    {15477, 10,
     "Caution: Changing any part of an object name could break scripts and stored "
     "procedures."},
    {15600, 15, "An invalid parameter or option was specified for procedure '%s'."},
    {16902, 16, "%hs: The value of parameter '%hs' is invalid."},
    {16905, 16, "The cursor is already open."},
    {16911, 16, "%hs: The fetch type %hs cannot be used with forward only cursors."},
    {16915, 16, "A cursor with the name '%.*ls' already exists."},
    {16916, 16, "A cursor with the name '%.*ls' does not exist."},
    {16917, 16, "Cursor is not open."},
    {16924, 16,
     "Cursorfetch: The number of variables declared in the INTO list must match that of "
     "selected columns."},
    {16925, 16, "The fetch type %hs cannot be used with dynamic cursors."},
    {16929, 16, "The cursor is READ ONLY."},
    {16930, 16, "The requested row is not in the fetch buffer."},
    {16931, 16, "There are no rows in the current fetch buffer."},
    {16932, 16,
     "The cursor has a FOR UPDATE list and the requested column to be updated is not in this "
     "list."},
    {16933, 16,
     "The cursor does not include the table being modified or the table is not updatable "
     "through the cursor."},
    {16934, 16,
     "Optimistic concurrency check failed. The row was modified outside of this cursor."},
    {16943, 16,
     "Could not complete cursor operation because the table schema changed after the cursor "
     "was declared."},
    {16948, 16,
     "The variable '%.*ls' is not a cursor variable, but it is used in a place where a cursor "
     "variable is expected."},
    {16950, 16, "The variable '%.*ls' does not currently have a cursor allocated to it."},
    {16954, 10, "Executing SQL directly; no cursor."},
    {16957, 16, "FOR UPDATE cannot be specified on a READ ONLY cursor."},
    {16999, 16, "%hs: The cursor identifier value provided (%x) is not valid."},
    {18452, 14,
     "Login failed for user '%ls'. Reason: Not associated with a trusted SQL Server "
     "connection."},
    {18456, 14, "Login failed for user '%ls'."},
};

// FormatMessage looks numbers up by binary search.
static_assert(std::is_sorted(std::begin(kMessages), std::end(kMessages),
                             [](const MessageTemplate& a, const MessageTemplate& b) {
                               return a.number < b.number;
                             }));

// The message `number` of the table; nullptr when it holds none.
const MessageTemplate* FindMessage(std::int32_t number) {
  const auto* found =
      std::lower_bound(std::begin(kMessages), std::end(kMessages), number,
                       [](const MessageTemplate& d, std::int32_t n) { return d.number < n; });
  return found == std::end(kMessages) || found->number != number ? nullptr : found;
}

// Length of the placeholder starting at text[i] ('%'), or 0 when none.
size_t PlaceholderLength(std::string_view text, size_t i) {
  static constexpr std::string_view kForms[] = {"%S_PGID", "%S_MSG", "%.*ls", "%ls", "%hs", "%ld",
                                                "%03d",    "%02X",   "%d",    "%s",  "%x",   "%f"};
  for (std::string_view form : kForms) {
    if (text.substr(i, form.size()) == form) return form.size();
  }
  return 0;
}

}  // namespace

std::span<const MessageTemplate> MessageTemplates() { return kMessages; }

bool IsCompileError(std::int32_t number) {
  const MessageTemplate* found = FindMessage(number);
  return found != nullptr && (found->flags & kCompileError) != 0;
}

ServerMessage FormatMessage(std::int32_t number, std::initializer_list<std::string_view> args) {
  ServerMessage message;
  message.number = number;
  const MessageTemplate* def = FindMessage(number);
  auto arg = args.begin();
  if (def == nullptr) {
    message.severity = 16;
    for (; arg != args.end(); ++arg) message.text.append(*arg);
    return message;
  }
  message.severity = def->severity;
  std::string_view text = def->text;
  for (size_t i = 0; i < text.size(); ++i) {
    size_t len = text[i] == '%' ? PlaceholderLength(text, i) : 0;
    if (len == 0) {
      message.text.push_back(text[i]);
      continue;
    }
    if (arg != args.end()) message.text.append(*arg++);
    i += len - 1;
  }
  return message;
}

}  // namespace sqlengine
