-- How exact_numbers_format1.mdf was made: this script, run through tsql against an engine
-- that wrote data files of format 1 (decimal and money columns held as SQLite doubles).
-- The file is kept as that engine left it after sp_detach_db.
CREATE DATABASE exact_numbers ON (NAME = exact_numbers, FILENAME = '<folder>/exact_numbers.mdf')
go
USE exact_numbers
go
CREATE TABLE ledger (
  id int PRIMARY KEY,
  amount money NOT NULL CONSTRAINT df_ledger_amount DEFAULT 12.5,
  fee smallmoney NULL,
  price decimal(9,2) NULL CONSTRAINT ck_ledger_price CHECK (price >= -1000000.00),
  rate decimal(18,4) NULL,
  big decimal(38,10) NULL,
  half AS price / 2,
  CONSTRAINT ck_ledger_rate CHECK (rate * 10 > -1000))
go
CREATE INDEX ix_ledger_price ON ledger (price)
go
INSERT INTO ledger VALUES (1, 922337203685477.5807, 214748.3647, 9999999.99, 12345678901.2345, 1234567890123456789012345678.0123456789)
INSERT INTO ledger VALUES (2, -922337203685477.5808, -214748.3648, -999999.99, -0.0001, -0.0000000001)
INSERT INTO ledger VALUES (3, 0.1, 0.2, 0.30, 12345678901234.5678, 0.1)
INSERT INTO ledger VALUES (4, 19.99, NULL, 1.05, NULL, NULL)
INSERT INTO ledger VALUES (5, 0, 0, 0, 0, 0)
INSERT INTO ledger (id, fee, price, rate, big) VALUES (6, 1.2345, -12.34, 3.1416, 99999999999.9999999999)
INSERT INTO ledger VALUES (7, 1234.5678, -0.0001, 7.77, -1.5, 123456789.123456789)
go
CREATE TABLE s (id int IDENTITY(10, 5), c char(3), d decimal(5,2))
INSERT INTO s (c, d) VALUES ('abc', 1.5)
go
CREATE VIEW ledger_view AS SELECT id, amount * 2 AS doubled, price + rate AS price_rate, fee FROM ledger
go
CREATE PROCEDURE ledger_total @min decimal(9,2) AS
SELECT count(*) AS n, sum(price) AS total_price, max(amount) AS top_amount FROM ledger WHERE price >= @min
go
USE master
go
EXEC sp_detach_db 'exact_numbers'
go
