-- A results store of version 1 as the ordalis before measurements wrote it: one failing run of
-- power.odl with a label, a named result and a failing statement (an sqlite3 .dump).
PRAGMA foreign_keys=OFF;
BEGIN TRANSACTION;
CREATE TABLE store_schema (version INTEGER NOT NULL);
INSERT INTO store_schema VALUES(1);
CREATE TABLE runs (id INTEGER PRIMARY KEY, script TEXT NOT NULL, script_path TEXT NOT NULL DEFAULT '', stamp TEXT NOT NULL, started TEXT NOT NULL, ended TEXT NOT NULL, day TEXT NOT NULL, duration DOUBLE PRECISION NOT NULL DEFAULT 0, verdict INTEGER NOT NULL, n_passed BIGINT NOT NULL DEFAULT 0, n_failed BIGINT NOT NULL DEFAULT 0, n_not_implemented BIGINT NOT NULL DEFAULT 0, n_warning BIGINT NOT NULL DEFAULT 0, n_error BIGINT NOT NULL DEFAULT 0, n_not_run BIGINT NOT NULL DEFAULT 0, n_aborted BIGINT NOT NULL DEFAULT 0, host TEXT NOT NULL DEFAULT '', user_name TEXT NOT NULL DEFAULT '', version_under_test TEXT NOT NULL DEFAULT '', ordalis_version TEXT NOT NULL DEFAULT '', folder TEXT NOT NULL DEFAULT '', results_path TEXT NOT NULL, log_path TEXT NOT NULL DEFAULT '', record_path TEXT NOT NULL DEFAULT '', report_path TEXT NOT NULL DEFAULT '', batch TEXT NOT NULL DEFAULT '', attempt INTEGER NOT NULL DEFAULT 0);
INSERT INTO runs VALUES(1,'power.odl','power.odl','power.odl_2026_12_11_12_11_17','2026-12-11 12:11:17','2026-12-11 12:11:17','2026-12-11',0.0,1,1,1,0,0,0,0,0,'vm','root','Undefined','4.0n','/lab/Results','/lab/Results/power.odl_2026_12_11_12_11_17.xml','/lab/Results/power.odl_2026_12_11_12_11_17.log','/lab/Results/power.odl_2026_12_11_12_11_17.odlrec','/lab/Results/power.odl_2026_12_11_12_11_17.html','',0);
CREATE TABLE run_labels (run_id BIGINT NOT NULL REFERENCES runs (id) ON DELETE CASCADE, name TEXT NOT NULL, value TEXT NOT NULL);
INSERT INTO run_labels VALUES(1,'station','3');
CREATE TABLE named_results (run_id BIGINT NOT NULL REFERENCES runs (id) ON DELETE CASCADE, label TEXT NOT NULL, result INTEGER NOT NULL, n_passed BIGINT NOT NULL DEFAULT 0, n_failed BIGINT NOT NULL DEFAULT 0, n_not_implemented BIGINT NOT NULL DEFAULT 0, n_warning BIGINT NOT NULL DEFAULT 0, n_error BIGINT NOT NULL DEFAULT 0, n_not_run BIGINT NOT NULL DEFAULT 0, n_aborted BIGINT NOT NULL DEFAULT 0, file TEXT NOT NULL DEFAULT '', line INTEGER NOT NULL DEFAULT 0, time_taken DOUBLE PRECISION NOT NULL DEFAULT 0);
INSERT INTO named_results VALUES(1,'Rail 5V',0,1,0,0,0,0,0,0,'/lab/power.odl',2,0.0);
CREATE TABLE failures (run_id BIGINT NOT NULL REFERENCES runs (id) ON DELETE CASCADE, file TEXT NOT NULL DEFAULT '', line INTEGER NOT NULL DEFAULT 0, result INTEGER NOT NULL, text TEXT NOT NULL DEFAULT '', run_values TEXT NOT NULL DEFAULT '');
INSERT INTO failures VALUES(1,'/lab/power.odl',3,1,'failed','');
CREATE TABLE folder_runs (host TEXT NOT NULL, folder TEXT NOT NULL, runs BIGINT NOT NULL, PRIMARY KEY (host, folder));
INSERT INTO folder_runs VALUES('vm','/lab/Results',1);
CREATE TABLE script_days (host TEXT NOT NULL, folder TEXT NOT NULL, script TEXT NOT NULL, day TEXT NOT NULL, passed BIGINT NOT NULL, failed BIGINT NOT NULL, runs BIGINT NOT NULL, PRIMARY KEY (host, folder, script, day));
INSERT INTO script_days VALUES('vm','/lab/Results','power.odl','2026-12-11',0,1,1);
CREATE UNIQUE INDEX runs_by_document ON runs (results_path, host);
CREATE INDEX runs_by_script ON runs (script, id);
CREATE INDEX runs_by_folder ON runs (host, folder, id);
CREATE INDEX runs_by_ended ON runs (ended);
CREATE INDEX run_labels_by_run ON run_labels (run_id);
CREATE INDEX run_labels_by_name ON run_labels (name, value);
CREATE INDEX named_results_by_run ON named_results (run_id);
CREATE INDEX named_results_by_label ON named_results (label, run_id);
CREATE INDEX failures_by_run ON failures (run_id);
COMMIT;
