-- A realistic data set for an empty database, written as the metering service would write it.
-- The loader replaces {{name}} with numbers and timestamps, runs the steps in order on one
-- connection, and runs each "per year" step once for every year the readings touch, with
-- {{year}} set. Every random choice is a hash of the seed and the record, so a seed and a size
-- give the same rows whatever order PostgreSQL runs them in.

-- step: helpers
-- A number in [0, 1) for a record key and a salt.
CREATE FUNCTION pg_temp.rnd(k bigint, salt int) RETURNS float8 LANGUAGE sql IMMUTABLE PARALLEL SAFE
AS $$ SELECT (hashint8extended(k, {{seed}}::bigint * 1000 + salt) & 2147483647)::float8 / 2147483648.0 $$;
-- One of the texts of an array, chosen by a key.
CREATE FUNCTION pg_temp.pick(k bigint, salt int, options text[]) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE
AS $$ SELECT options[1 + floor(pg_temp.rnd(k, salt) * array_length(options, 1))::int] $$;
-- A decimal text with three places, as meters report their registers.
CREATE FUNCTION pg_temp.reg(x float8) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE
AS $$ SELECT round(x::numeric, 3)::text $$;
CREATE FUNCTION pg_temp.val(title int, unit int, v text, prefix int, postfix int) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE
AS $$ SELECT '{"titleId":' || title || ',"edId":' || unit || ',"val":"' || v || '","prefixNum":' || prefix || ',"postfixNum":' || postfix || '}' $$;

-- step: reference data
INSERT INTO "ManufTable" ("Id", "Name", "Note") VALUES
    (1, 'Водомер-Сервис', 'Счётчики воды'),
    (2, 'ЭлектроПрибор', 'Счётчики электроэнергии'),
    (3, 'ТеплоУчёт', 'Теплосчётчики и составные приборы'),
    (4, 'ГазМетрика', 'Счётчики газа'),
    (5, 'ИмпульсТех', 'Счётчики импульсов и концентраторы'),
    (6, 'РадиоСеть', 'Радиомодули LoRa');
-- Kinds of device in this file: 1 cold water, 2 hot water, 3 electricity, 4 heat, 5 gas,
-- 6 pulse counter, 7 composite, 8 concentrator, 9 LoRa hub.
CREATE TEMP TABLE ds_kind (kind int PRIMARY KEY, dev_type int, model_id int, alt_model_id int, man_id text, ver int);
INSERT INTO ds_kind VALUES
    (1, 22, 1, 11, 'VDS', 1), (2, 6, 2, 2, 'VDS', 1), (3, 2, 3, 3, 'ELP', 2), (4, 4, 4, 4, 'TPU', 3),
    (5, 3, 5, 5, 'GZM', 1), (6, 25, 6, 6, 'IMT', 1), (7, 26, 7, 7, 'TPU', 2), (8, 49, 8, 8, 'IMT', 1),
    (9, 49, 10, 10, 'RSN', 1);
INSERT INTO "ModelTable" ("Id", "Name", "ManufId", "ResCode", "PovInterval", "Note", "JsonData") VALUES
    (1, 'ВС-15Х', 1, 2, 72, 'Крыльчатый, Ду15', '{}'),
    (2, 'ВС-15Г', 1, 3, 72, 'Крыльчатый, Ду15, до 90 °С', '{}'),
    (3, 'ЭМ-3Т', 2, 4, 192, 'Двухтарифный', '{}'),
    (4, 'ТС-50', 3, 6, 48, 'Два трубопровода', '{}'),
    (5, 'ГС-4', 4, 5, 120, 'Мембранный', '{}'),
    (6, 'ИМП-2', 5, 0, 72, 'Два входа', '{}'),
    (7, 'КОМБИ-1', 3, 7, 48, 'Тепло и вода', '{}'),
    (8, 'К-8', 5, 0, 0, 'Концентратор на 8 каналов', '{}'),
    (9, 'LR-15Х', 6, 2, 72, 'Радиомодуль с двумя входами', '{"loraDataFormat":3}'),
    (10, 'LR-Хаб', 6, 0, 0, 'Шлюз LoRa', '{"loraDataFormat":3}'),
    (11, 'СВ-20Х', 5, 2, 72, 'Ду20', '{}');

-- step: companies and accounts
INSERT INTO "CompanyTable" ("Id", "Name", "Address", "Mail", "Phone", "Note") VALUES
    (1, 'УК «Северный квартал»', 'г. Северск, ул. Ленина, д. 1', 'north@example.org', '+73822000001', 'Управляющая компания'),
    (2, 'ТСЖ «Заречье»', 'г. Заречный, ул. Мира, д. 2', 'river@example.org', '+73912000002', 'Товарищество собственников'),
    (3, 'Энергосбыт «Южный»', 'г. Южный, пр. Победы, д. 3', 'south@example.org', '+78612000003', 'Ресурсоснабжающая организация');
-- Every demonstration account logs in with the password "demo".
INSERT INTO "UserTable" ("Login", "PasHash", "Mail", "Status", "UserType", "CompanyId", "Note")
SELECT login, md5('demo'), login || '@example.org', 1, type, company, note
FROM (VALUES ('operator', 3, NULL::bigint, 'Оператор всех компаний'),
             ('editor', 4, NULL, 'Правка данных всех компаний'),
             ('north.admin', 129, 1, 'Администратор компании'), ('north.operator', 130, 1, 'Оператор компании'),
             ('north.user', 131, 1, 'Пользователь компании'),
             ('river.admin', 129, 2, 'Администратор компании'), ('river.user', 131, 2, 'Пользователь компании'),
             ('south.admin', 129, 3, 'Администратор компании'), ('south.user', 131, 3, 'Пользователь компании'))
     AS a(login, type, company, note);

-- step: addresses and objects
-- Company 1 has the large house and the house of the reports first, then houses of 24 meters;
-- companies 2 and 3 houses of 30; one house belongs to no company.
CREATE TEMP TABLE ds_address (id bigint PRIMARY KEY, company bigint, ord int, meters int, shift int, city text);
INSERT INTO ds_address (id, company, ord, meters, shift, city)
SELECT row_number() OVER (ORDER BY company, ord), company, ord, meters, shift, city FROM (
    SELECT 1 AS company, k AS ord,
           CASE WHEN k = 1 THEN {{big}} WHEN k = 2 THEN {{report}}
                ELSE least(24, {{devices}} - {{big}} - {{report}} - 24 * (k - 3)) END AS meters,
           CASE WHEN k % 5 = 0 THEN 240 ELSE 180 END AS shift, 'г. Северск' AS city
    FROM generate_series(1, 2 + ceil(({{devices}} - {{big}} - {{report}}) / 24.0)::int) k
    UNION ALL
    SELECT c, k, least(30, {{others}} - 30 * (k - 1)), CASE WHEN c = 2 THEN 420 ELSE 0 END,
           CASE WHEN c = 2 THEN 'г. Заречный' ELSE 'г. Южный' END
    FROM generate_series(2, 3) c, generate_series(1, ceil({{others}} / 30.0)::int) k
    UNION ALL
    SELECT NULL, 1, 8, 300, 'пос. Лесной'
) plan WHERE meters > 0;
INSERT INTO "AddressTable" ("Id", "Name", "PostIndex", "CompanyId", "CoordLat", "CoordLong", "TimeShift", "Note", "JsonData")
SELECT id,
       city || ', ' || (ARRAY['ул. Ленина', 'ул. Мира', 'пр. Победы', 'ул. Садовая', 'ул. Школьная', 'ул. Лесная',
                              'ул. Набережная', 'ул. Гагарина', 'ул. Молодёжная', 'ул. Советская'])[1 + (ord - 1) % 10]
            || ', д. ' || (1 + (ord - 1) / 10),
       (630000 + id * 7)::text, company, (56 + pg_temp.rnd(id, 1))::numeric(8, 5)::text,
       (84 + pg_temp.rnd(id, 2))::numeric(8, 5)::text, shift,
       CASE WHEN ord = 1 THEN 'Ввод тепла через ИТП' ELSE '' END,
       json_build_object('fias', md5('fias' || id))
FROM ds_address;

-- Objects: 0 is the technical room with the house meters, then flats of three meters each.
CREATE TEMP TABLE ds_object (id bigint PRIMARY KEY, address bigint, ord int, obj_type int, obj text);
CREATE TEMP TABLE ds_slot (address bigint, pos int, object_ord int, kind int);
INSERT INTO ds_slot
SELECT a.id, j,
       CASE WHEN j < cardinality(tech.kinds) THEN 0 ELSE 1 + (j - cardinality(tech.kinds)) / 3 END,
       CASE WHEN j < cardinality(tech.kinds) THEN tech.kinds[j + 1] ELSE 1 + (j - cardinality(tech.kinds)) % 3 END
FROM ds_address a
CROSS JOIN LATERAL (SELECT ARRAY[4] || CASE WHEN a.ord % 2 = 1 THEN ARRAY[5] ELSE '{}'::int[] END
                                    || CASE WHEN a.ord % 3 = 0 THEN ARRAY[6] ELSE '{}'::int[] END
                                    || CASE WHEN a.ord % 4 = 0 THEN ARRAY[7] ELSE '{}'::int[] END AS kinds) tech
CROSS JOIN LATERAL generate_series(0, a.meters - 1) j;
INSERT INTO ds_object (id, address, ord, obj_type, obj)
SELECT row_number() OVER (ORDER BY address, object_ord), address, object_ord,
       CASE WHEN object_ord = 0 THEN 2 WHEN object_ord % 15 = 0 THEN 3 ELSE 1 END,
       CASE WHEN object_ord = 0 THEN 'ИТП' WHEN object_ord % 15 = 0 THEN 'Офис ' || object_ord ELSE 'кв. ' || object_ord END
FROM (SELECT DISTINCT address, object_ord FROM ds_slot) o;
INSERT INTO "ObjectTable" ("Id", "AddressId", "ObjType", "Obj", "Sq", "AbonentCode", "Note")
SELECT id, address, obj_type, obj, CASE WHEN obj_type = 2 THEN '' ELSE (30 + floor(pg_temp.rnd(id, 3) * 60))::text END,
       CASE WHEN obj_type = 2 THEN '' ELSE lpad((id * 37)::text, 8, '0') END, ''
FROM ds_object;

-- step: abonents and personal accounts
INSERT INTO "AbonentTable" ("Id", "Name", "Login", "PasHash", "Mail", "Phone", "Status")
SELECT o.id,
       pg_temp.pick(o.id, 4, ARRAY['Иванов', 'Петров', 'Сидоров', 'Кузнецов', 'Смирнов', 'Попов', 'Васильев', 'Соколов',
                                   'Михайлов', 'Новиков', 'Фёдоров', 'Морозов', 'Волков', 'Алексеев', 'Лебедев'])
           || ' ' || pg_temp.pick(o.id, 5, ARRAY['А.', 'Б.', 'В.', 'Г.', 'Д.', 'Е.', 'И.', 'К.', 'Л.', 'М.', 'Н.', 'О.', 'П.', 'С.'])
           || pg_temp.pick(o.id, 6, ARRAY['А.', 'В.', 'Г.', 'Д.', 'И.', 'М.', 'Н.', 'П.', 'С.']),
       'ab' || o.id, md5('demo'),
       CASE WHEN pg_temp.rnd(o.id, 7) < 0.7 THEN 'ab' || o.id || '@example.org' END,
       CASE WHEN pg_temp.rnd(o.id, 8) < 0.8 THEN '+7913' || lpad((o.id * 7919 % 10000000)::text, 7, '0') END, 0
FROM ds_object o WHERE o.obj_type <> 2 AND pg_temp.rnd(o.id, 9) < 0.85;
UPDATE "ObjectTable" o SET "AbonentId"=o."Id" FROM "AbonentTable" b WHERE b."Id"=o."Id";
INSERT INTO "LicAccountTable" ("ResCode", "ObjectId", "Name")
SELECT r, o.id, r || '-' || lpad((o.id * 104729 % 100000000)::text, 8, '0')
FROM ds_object o, generate_series(2, 4) r WHERE o.obj_type <> 2 ORDER BY o.id, r;

-- step: devices
-- Meters at addresses, then the meters on concentrator and LoRa channels, then masters, hubs,
-- meters they replaced and meters in stock.
CREATE TEMP TABLE ds_meter (id bigint PRIMARY KEY, kind int, object bigint, address bigint, shift int, company bigint,
                            connect int DEFAULT 0, installed date, group_id bigint, channel int, eui text);
INSERT INTO ds_meter (id, kind, object, address, shift, company, installed)
SELECT row_number() OVER (ORDER BY s.address, s.pos), s.kind, o.id, a.id, a.shift, a.company,
       date '2019-01-01' + floor(pg_temp.rnd(s.address * 1000 + s.pos, 10) * 2000)::int
FROM ds_slot s JOIN ds_object o ON o.address = s.address AND o.ord = s.object_ord JOIN ds_address a ON a.id = s.address;
-- Concentrators at company 1's houses 3 to 5 with four water meters each on flats 1 to 4;
-- LoRa devices of two channels at houses 6 and 7, two per house under one hub.
CREATE TEMP TABLE ds_group (id bigint, kind int, address bigint, ord int);
INSERT INTO ds_group
SELECT (SELECT max(id) FROM ds_meter) + 1000 + row_number() OVER (ORDER BY a.id, g), CASE WHEN a.ord <= 5 THEN 8 ELSE 9 END, a.id, g
FROM ds_address a, generate_series(1, 2) g
WHERE a.company = 1 AND a.ord BETWEEN 3 AND 7 AND (a.ord > 5 OR g = 1);
INSERT INTO ds_meter (id, kind, object, address, shift, company, connect, installed, group_id, channel, eui)
SELECT (SELECT max(id) FROM ds_meter) + row_number() OVER (ORDER BY g.id, c), 1, o.id, a.id, a.shift, a.company, 2,
       date '2023-03-01' + (g.id % 90)::int, g.id, c,
       CASE WHEN g.kind = 9 THEN upper(lpad(to_hex(g.id * 7919 + 4096 * 65536), 16, '0')) END
FROM ds_group g JOIN ds_address a ON a.id = g.address
CROSS JOIN generate_series(1, CASE WHEN g.kind = 8 THEN 4 ELSE 2 END) c
JOIN ds_object o ON o.address = a.id AND o.ord = CASE WHEN g.kind = 8 THEN c ELSE 2 * (g.ord - 1) + c END;
INSERT INTO "DeviceTable" ("Id", "DevType", "ManId", "IdentNum", "Ver", "ZavNum", "DateProizv", "ModelId", "Status",
                           "ConnectType", "TransKoef", "Note")
SELECT m.id, CASE WHEN m.connect = 2 THEN 7 ELSE k.dev_type END, CASE WHEN m.eui IS NOT NULL THEN 'RSN' ELSE k.man_id END,
       20000000 + m.id, k.ver, 'SN' || lpad((m.id * 31)::text, 8, '0'), m.installed - 30 - (m.id % 200)::int,
       CASE WHEN m.eui IS NOT NULL THEN 9 WHEN pg_temp.rnd(m.id, 11) < 0.3 THEN k.alt_model_id ELSE k.model_id END, 0, m.connect,
       CASE WHEN m.kind = 3 AND pg_temp.rnd(m.id, 12) < 0.05 THEN 40 ELSE 1 END,
       CASE WHEN m.connect = 2 THEN 'Канал ' || m.channel ELSE '' END
FROM ds_meter m JOIN ds_kind k ON k.kind = m.kind;
-- Masters and hubs are devices of their own, never installed.
INSERT INTO "DeviceTable" ("Id", "DevType", "ManId", "IdentNum", "Ver", "ZavNum", "DateProizv", "ModelId", "Status", "ConnectType")
SELECT g.id, k.dev_type, k.man_id, 20000000 + g.id, k.ver, 'CN' || lpad(g.id::text, 6, '0'), date '2022-11-01', k.model_id, 0, 1
FROM ds_group g JOIN ds_kind k ON k.kind = g.kind WHERE g.kind = 8 OR g.ord = 1;
INSERT INTO "InstallTable" ("DeviceId", "ObjectId", "DateInstall", "Actual")
SELECT id, object, installed, 1 FROM ds_meter ORDER BY id;
-- Two meters in a hundred replaced an older one, whose installation stays in the history.
INSERT INTO "DeviceTable" ("Id", "DevType", "ManId", "IdentNum", "Ver", "ZavNum", "DateProizv", "ModelId", "Status", "Note")
SELECT 3000000 + m.id, k.dev_type, k.man_id, 30000000 + m.id, k.ver, 'OLD' || m.id, m.installed - 3000, k.model_id, 1, 'Заменён'
FROM ds_meter m JOIN ds_kind k ON k.kind = m.kind WHERE m.connect = 0 AND pg_temp.rnd(m.id, 13) < 0.02;
INSERT INTO "InstallTable" ("DeviceId", "ObjectId", "DateInstall", "Actual", "Note")
SELECT 3000000 + m.id, m.object, m.installed - 2500, 0, 'Снят при замене'
FROM ds_meter m WHERE m.connect = 0 AND pg_temp.rnd(m.id, 13) < 0.02 ORDER BY m.id;
-- Meters in stock, installed nowhere.
INSERT INTO "DeviceTable" ("Id", "DevType", "ManId", "IdentNum", "Ver", "ZavNum", "DateProizv", "ModelId", "Status", "Note")
SELECT 4000000 + n, k.dev_type, k.man_id, 40000000 + n, k.ver, 'ST' || lpad(n::text, 6, '0'), date '2025-06-01', k.model_id, 0, 'На складе'
FROM generate_series(1, 10) n JOIN ds_kind k ON k.kind = 1 + (n - 1) % 5;

-- step: groups, verifications and tasks
INSERT INTO "ConcTable" ("MasterId", "DeviceId", "Deveui", "Channel", "JsonData")
SELECT CASE WHEN g.kind = 8 THEN g.id ELSE (SELECT h.id FROM ds_group h WHERE h.address = g.address AND h.ord = 1) END,
       m.id, m.eui, m.channel,
       (E'{\n    "imp": [\n        {\n            "titleId": 5,\n            "edId": 10,\n            "postfixNum": 0,\n'
       || E'            "impW": 0.01,\n            "startVal": 0\n        }\n    ]\n}\n')::json
FROM ds_meter m JOIN ds_group g ON g.id = m.group_id ORDER BY m.id;
INSERT INTO "PoverkaTable" ("DeviceId", "DatePov", "Actual", "Note")
-- Meters installed in the last four years keep their first verification; older ones were
-- verified again since, but for one in twenty whose verification has run out.
SELECT id, CASE WHEN installed > date '{{end}}' - 1460 OR pg_temp.rnd(id, 16) < 0.05 THEN installed - 10 - (id % 50)::int
                ELSE date '{{end}}' - 30 - floor(pg_temp.rnd(id, 17) * 1400)::int END,
       1, CASE WHEN installed > date '{{end}}' - 1460 THEN 'Первичная поверка' ELSE 'Периодическая поверка' END
FROM ds_meter
UNION ALL
SELECT id, installed - 10 - (id % 50)::int - 2190, 0, 'Первичная поверка' FROM ds_meter WHERE pg_temp.rnd(id, 14) < 0.1
ORDER BY 1, 2;
-- Queues of device commands, as the task commands keep them: one in fifty meters has one.
INSERT INTO "TaskTable" ("DeviceId", "DromexNum", "JsonTask")
SELECT id, CASE WHEN connect = 2 THEN 'D' || id ELSE '' END,
       json_build_array(json_build_object('id', (id * 7919) % 2147483647,
                                          'dateStart', to_char(timestamp '{{end}}' - (id % 72) * interval '1 hour', 'YYYY-MM-DD HH24:MI:SS'),
                                          'command', 7, 'state', 0, 'error', 0, 'flags', 0, 'dateSend', '', 'dateAnswer', '',
                                          'value', json_build_array(1 + id % 3)))
FROM ds_meter WHERE pg_temp.rnd(id, 15) < 0.02 ORDER BY id;

-- step: reading plan
-- The moments of the readings, per time offset: hourly for the last days, then one a day at
-- local midnight back over the months. "idx" counts back from the newest hour.
CREATE TEMP TABLE ds_time (shift int, idx int, arc timestamp, local_hour int, day_number int, days float8,
                           season float8, season_sum float8, PRIMARY KEY (shift, idx));
INSERT INTO ds_time
SELECT s.shift, t.idx, t.arc,
       extract(hour from t.arc + s.shift * interval '1 minute')::int,
       (t.arc + s.shift * interval '1 minute')::date - date '2015-01-01',
       extract(epoch from (t.arc + s.shift * interval '1 minute') - timestamp '2015-01-01') / 86400,
       0, 0
FROM (SELECT DISTINCT shift FROM ds_meter) s
CROSS JOIN LATERAL (
    SELECT i AS idx, timestamp '{{end}}' - i * interval '1 hour' AS arc FROM generate_series(0, {{hourly_days}} * 24 - 1) i
    UNION ALL
    SELECT 100000 + d, ((timestamp '{{end}}' + s.shift * interval '1 minute')::date - {{hourly_days}} - d)::timestamp
                       - s.shift * interval '1 minute'
    FROM generate_series(0, {{daily_days}} - {{hourly_days}}) d) t;
-- Heating follows the season: its rate peaks in mid-January; season_sum is the integral of
-- the season term, so that counters built on it never run backwards.
UPDATE ds_time SET season = cos(2 * pi() * (days - 15) / 365.25),
                   season_sum = sin(2 * pi() * (days - 15) / 365.25) * 365.25 / (2 * pi());
-- Made once here, not in the yearly steps: the readings of each year are written moment by moment.
CREATE INDEX ds_time_arc ON ds_time (arc);

-- Per meter: its rates, its starting register, an outage, and an episode of errors.
CREATE TEMP TABLE ds_reader (id bigint PRIMARY KEY, kind int, shift int, rate float8, base float8, outage_from int,
                             outage_hours int, error_from int, error_hours int, error_code int, error_fixed boolean);
INSERT INTO ds_reader
SELECT id, kind, shift,
       CASE kind WHEN 1 THEN 0.12 WHEN 2 THEN 0.08 WHEN 3 THEN 7 WHEN 4 THEN 0.9 WHEN 5 THEN 1.5 WHEN 6 THEN 0.3 ELSE 0.2 END
           * (0.5 + pg_temp.rnd(id, 20)),
       floor(pg_temp.rnd(id, 21) * 500),
       CASE WHEN pg_temp.rnd(id, 22) < 0.05 THEN floor(pg_temp.rnd(id, 23) * ({{hourly_days}} - 5) * 24)::int END,
       24 + floor(pg_temp.rnd(id, 24) * 96)::int,
       CASE WHEN pg_temp.rnd(id, 25) < 0.05 THEN floor(pg_temp.rnd(id, 26) * 200)::int END,
       6 + floor(pg_temp.rnd(id, 27) * 48)::int,
       (ARRAY[1, 2, 4, 8, 16, 32, 64, 5])[1 + floor(pg_temp.rnd(id, 28) * 8)::int],
       pg_temp.rnd(id, 29) < 0.5
FROM ds_meter;

-- step per year: readings
-- Counters are the rate times the days, plus the share of the day's profile gone by (water and
-- electricity), or the seasonal integral (heat and gas); both only grow. Temperatures,
-- pressures, voltages and currents are instantaneous and noisy. The readings of one moment are
-- written together and the moments in time order, as collectors deliver them: a device's rows
-- lie scattered over the table, not side by side.
CREATE OR REPLACE FUNCTION pg_temp.write_readings(moment timestamp) RETURNS void LANGUAGE sql AS $body$
INSERT INTO "ArchiveTable{{year}}" ("DeviceId", "ArcDate", "RecDate", "JsonErr", "JsonVal")
SELECT r.id, t.arc,
       t.arc + (CASE WHEN t.idx < 100000 THEN 3 + floor(pg_temp.rnd(r.id * 200000 + t.idx, 30) * 40) ELSE 125 END) * interval '1 minute',
       CASE WHEN t.idx >= r.error_from AND t.idx < r.error_from + r.error_hours
            THEN '[{"errorCode":' || r.error_code || ',"prefixNum":0,"postfixNum":0' || CASE WHEN r.error_fixed THEN ',"fixed":1' ELSE '' END || '}]'
            WHEN r.kind IN (3, 4) THEN '[{"errorCode":0,"prefixNum":0,"postfixNum":0}]'
            ELSE '[]' END::json,
       ('[' || CASE r.kind
           WHEN 1 THEN pg_temp.val(5, 10, pg_temp.reg(r.base + r.rate * (t.day_number + w.share)), 0, 0)
           WHEN 2 THEN pg_temp.val(5, 10, pg_temp.reg(r.base + r.rate * (t.day_number + w.share)), 0, 0) || ','
                    || pg_temp.val(35, 29, pg_temp.reg(58 + 4 * (noise.a - 0.5)), 0, 0)
           WHEN 3 THEN pg_temp.val(2, 2, pg_temp.reg(r.base * 10 + r.rate * (t.day_number * 0.82632 + e.day_share)), 0, 1) || ','
                    || pg_temp.val(2, 2, pg_temp.reg(r.base * 3 + r.rate * (t.day_number * 0.17368 + e.night_share)), 0, 2) || ','
                    || pg_temp.val(58, 58, pg_temp.reg(229 + 8 * (noise.a - 0.5)), 0, 0) || ','
                    || pg_temp.val(59, 59, pg_temp.reg(1.5 + 6 * noise.b), 0, 0)
           WHEN 4 THEN pg_temp.val(4, 9, pg_temp.reg(r.base + r.rate * (t.days + 0.9 * t.season_sum)), 0, 0) || ','
                    || pg_temp.val(28, 10, pg_temp.reg(r.base * 20 + r.rate * 40 * t.days), 0, 1) || ','
                    || pg_temp.val(28, 10, pg_temp.reg(r.base * 20 + r.rate * 39.2 * t.days), 0, 2) || ','
                    || pg_temp.val(30, 29, pg_temp.reg(75 + 15 * t.season + 3 * (noise.a - 0.5)), 0, 1) || ','
                    || pg_temp.val(31, 29, pg_temp.reg(48 + 6 * t.season + 3 * (noise.b - 0.5)), 0, 2) || ','
                    || pg_temp.val(51, 32, pg_temp.reg(6 + 0.4 * (noise.a - 0.5)), 0, 1) || ','
                    || pg_temp.val(52, 32, pg_temp.reg(4 + 0.4 * (noise.b - 0.5)), 0, 2)
           WHEN 5 THEN pg_temp.val(45, 10, pg_temp.reg(r.base + r.rate * (t.days + 0.8 * t.season_sum)), 0, 0) || ','
                    || pg_temp.val(17, 29, pg_temp.reg(12 + 8 * (noise.a - 0.5)), 0, 0) || ','
                    || pg_temp.val(14, 32, pg_temp.reg(1.02 + 0.04 * (noise.b - 0.5)), 0, 0)
           WHEN 6 THEN pg_temp.val(5, 10, pg_temp.reg(r.base + r.rate * (t.day_number + w.share)), 1, 0) || ','
                    || pg_temp.val(5, 10, pg_temp.reg(r.base / 2 + r.rate * 0.6 * (t.day_number + w.share)), 2, 0)
           ELSE pg_temp.val(1, 36, pg_temp.reg(r.base + r.rate * (t.days + 0.9 * t.season_sum)), 0, 0) || ','
                    || pg_temp.val(44, 10, pg_temp.reg(r.base * 3 + r.rate * 5 * (t.day_number + w.share)), 0, 0)
        END || ']')::json
FROM ds_reader r
JOIN ds_time t ON t.shift = r.shift
CROSS JOIN LATERAL (SELECT pg_temp.rnd(r.id * 200000 + t.idx, 31) AS a, pg_temp.rnd(r.id * 200000 + t.idx, 32) AS b) noise
CROSS JOIN LATERAL (SELECT ('{0,0.00976,0.01463,0.01951,0.02439,0.03415,0.05366,0.10244,0.19024,0.26829,0.31707,0.35610,'
                            '0.39512,0.43902,0.47805,0.51220,0.54634,0.58537,0.63415,0.70244,0.78537,0.86341,0.93171,0.98049,1}'::float8[])
                           [t.local_hour + 1] AS share) w
CROSS JOIN LATERAL (SELECT ('{0,0,0,0,0,0,0,0,0.05263,0.10526,0.14737,0.18421,0.22105,0.26316,0.30000,0.33684,0.37368,0.41579,'
                            '0.46842,0.53684,0.61579,0.69474,0.76842,0.82632,0.82632}'::float8[])[t.local_hour + 1] AS day_share,
                           ('{0,0.02105,0.03684,0.05263,0.06842,0.08421,0.10526,0.14211,0.14211,0.14211,0.14211,0.14211,0.14211,'
                            '0.14211,0.14211,0.14211,0.14211,0.14211,0.14211,0.14211,0.14211,0.14211,0.14211,0.14211,0.17368}'::float8[])
                           [t.local_hour + 1] AS night_share) e
WHERE t.arc = moment
  -- Gaps: a lost hour now and then, a lost day now and then, and outages of one to five days.
  AND NOT (t.idx < 100000 AND pg_temp.rnd(r.id * 200000 + t.idx, 33) < 0.01)
  AND NOT (t.idx >= 100000 AND pg_temp.rnd(r.id * 200000 + t.idx, 34) < 0.02)
  AND NOT (r.outage_from IS NOT NULL AND t.idx >= r.outage_from AND t.idx < r.outage_from + r.outage_hours)
ORDER BY r.id;
$body$;
DO $$
DECLARE moment timestamp;
BEGIN
    FOR moment IN SELECT DISTINCT arc FROM ds_time
                  WHERE arc >= timestamp '{{year}}-01-01' AND arc < timestamp '{{year}}-01-01' + interval '1 year' ORDER BY arc LOOP
        PERFORM pg_temp.write_readings(moment);
    END LOOP;
END $$;

-- step per year: technical records
-- LoRa meters and one meter in twenty report their radio and battery once a day.
INSERT INTO "TechnicalTable{{year}}" ("DeviceId", "TechDate", "RecDate", "JsonVal")
SELECT m.id, t.arc + interval '3 hours', t.arc + interval '3 hours 2 minutes',
       ('[{"rssi":' || (-70 - floor(pg_temp.rnd(m.id * 200000 + t.idx, 40) * 50)) || ',"snr":'
        || round((pg_temp.rnd(m.id * 200000 + t.idx, 41) * 12 - 2)::numeric, 1) || ',"battery":'
        || round((3.6 - t.idx * 0.00001 - pg_temp.rnd(m.id, 42) * 0.3)::numeric, 2) || '}]')::json
FROM ds_meter m JOIN ds_time t ON t.shift = m.shift AND t.idx < 100000 AND t.local_hour = 0
WHERE (m.eui IS NOT NULL OR pg_temp.rnd(m.id, 43) < 0.05)
  AND t.arc + interval '3 hours' >= timestamp '{{year}}-01-01'
  AND t.arc + interval '3 hours' < timestamp '{{year}}-01-01' + interval '1 year';

-- step per year: rows that break the format
-- Four cold-water meters outside the benchmark houses each have one reading of a day or two
-- ago written wrong, as faulty collectors have written them: the first two no JSON array, the
-- other two with the value as a number instead of text.
WITH chosen AS (
    SELECT m.id, row_number() OVER (ORDER BY m.id) AS n
    FROM ds_meter m JOIN ds_address a ON a.id = m.address
    WHERE m.kind = 1 AND m.connect = 0 AND NOT (a.company IS NOT NULL AND a.company = 1 AND a.ord <= 2)
    ORDER BY m.id LIMIT 4
), target AS (
    SELECT c.n, (SELECT r."Id" FROM "ArchiveTable{{year}}" r WHERE r."DeviceId" = c.id
                 AND r."ArcDate" BETWEEN timestamp '{{end}}' - interval '48 hours' AND timestamp '{{end}}' - interval '30 hours'
                 ORDER BY r."ArcDate" DESC LIMIT 1) AS row_id
    FROM chosen c
)
UPDATE "ArchiveTable{{year}}" r
SET "JsonVal" = CASE WHEN t.n <= 2 THEN '{"titleId":5}'::json
                     ELSE ('[{"titleId":5,"edId":10,"val":' || (r."JsonVal"->0->>'val') || ',"prefixNum":0,"postfixNum":0}]')::json END
FROM target t WHERE r."Id" = t.row_id;

-- step: radio identities heard on the air
INSERT INTO "TmpDevTable" ("DevType", "ManId", "IdentNum", "Ver", "ArcDate", "RecDate", "JsonErr", "JsonVal")
SELECT (ARRAY[7, 6, 2, 4])[1 + n % 4], (ARRAY['ZRI', 'KWA', 'BMT', 'DME'])[1 + n % 4], 50000000 + n * 13, 1 + n % 3,
       timestamp '{{end}}' - (n + 24 * k) * interval '1 hour', timestamp '{{end}}' - (n + 24 * k) * interval '1 hour' + interval '4 minutes',
       '[]', ('[' || pg_temp.val(5, 10, pg_temp.reg(100 + n * 3 + k * 0.2), 0, 0) || ']')::json
FROM generate_series(1, 40) n, generate_series(0, 2) k ORDER BY n, k;

-- step: sequences
-- Rows went in with their ids; the sequences continue after them.
DO $$
DECLARE t text;
BEGIN
    FOREACH t IN ARRAY ARRAY['ManufTable', 'ModelTable', 'CompanyTable', 'AddressTable', 'ObjectTable', 'AbonentTable', 'DeviceTable'] LOOP
        EXECUTE format('SELECT setval(pg_get_serial_sequence(%L, %L), (SELECT coalesce(max("Id"), 1) FROM %I))', '"' || t || '"', 'Id', t);
    END LOOP;
END $$;
