-- How character_keys_format2.mdf was made: this script, run through tsql against an engine
-- that wrote data files of format 2 (character columns declared COLLATE NOCASE, or COLLATE
-- BINARY for _CS and _BIN). The file is kept as that engine left it after sp_detach_db.
CREATE DATABASE character_keys ON (NAME = character_keys, FILENAME = '<folder>/character_keys.mdf')
go
USE character_keys
go
CREATE TABLE people (name varchar(20) CONSTRAINT pk_people PRIMARY KEY, city nvarchar(20) NULL)
CREATE INDEX ix_people_city ON people (city)
INSERT INTO people VALUES ('Ann', N'Zürich')
INSERT INTO people VALUES ('bob', N'Ärhus')
INSERT INTO people VALUES ('Cid', N'Bern')
INSERT INTO people VALUES ('dee', N'arhus')
INSERT INTO people VALUES ('Eva', N'Straße')
go
CREATE VIEW street_people AS SELECT name FROM people WHERE city = N'STRASSE'
go
CREATE TABLE codes (code char(4) COLLATE Latin1_General_CS_AS CONSTRAINT uq_codes UNIQUE, label varchar(10) NULL)
INSERT INTO codes VALUES ('ab', 'lower')
INSERT INTO codes VALUES ('AB', 'upper')
go
CREATE TABLE repeated (k varchar(10) CONSTRAINT pk_repeated PRIMARY KEY, n int NOT NULL)
INSERT INTO repeated VALUES ('a', 1)
INSERT INTO repeated VALUES ('a ', 2)
INSERT INTO repeated VALUES ('b', 3)
go
USE master
go
EXEC sp_detach_db 'character_keys'
go
