-- The role the stations write records with: it may read the records and add
-- new ones, and nothing else (no UPDATE, no DELETE, no schema change).
-- Run it as the database's owner once the tables exist
-- ("zq-update records sync" run once as the owner makes them):
--   psql -d zq -f records-role.sql
-- Then give each station a login in the role, e.g.
--   CREATE ROLE station1 LOGIN IN ROLE zq_station;
DO $$
BEGIN
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'zq_station') THEN
    CREATE ROLE zq_station NOLOGIN;
  END IF;
END
$$;
GRANT USAGE ON SCHEMA public TO zq_station;
GRANT SELECT, INSERT ON unit_record TO zq_station;
GRANT SELECT ON schema_version TO zq_station;
-- Readers (reports, the MES) need only this:
DO $$
BEGIN
  IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'zq_reader') THEN
    CREATE ROLE zq_reader NOLOGIN;
  END IF;
END
$$;
GRANT USAGE ON SCHEMA public TO zq_reader;
GRANT SELECT ON unit_record, schema_version TO zq_reader;
