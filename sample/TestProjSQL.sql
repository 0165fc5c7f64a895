-- The sample database TestProjSQL: the table Test and the procedure
-- DoOperation that Velmora's ADD and DELETE buttons call.
CREATE DATABASE TestProjSQL
GO
USE TestProjSQL
GO
CREATE TABLE Test (
  Name nvarchar(50) NOT NULL,
  Position nvarchar(50) NULL
)
GO
INSERT INTO Test (Name, Position) VALUES (N'Lena T', N'Monitor')
INSERT INTO Test (Name, Position) VALUES (N'Ann', N'Clerk')
INSERT INTO Test (Name, Position) VALUES (N'Oskar B', N'Engineer')
GO
-- @Opn 1 adds a row with the given name and position; 2 deletes the rows
-- that match both. Any other code changes nothing.
CREATE PROCEDURE DoOperation
  @Opn smallint,
  @Name nvarchar(50),
  @Position nvarchar(50)
AS
BEGIN
  IF @Opn = 1
    INSERT INTO Test (Name, Position) VALUES (@Name, @Position)
  ELSE IF @Opn = 2
    DELETE FROM Test WHERE Name = @Name AND Position = @Position
END
GO
