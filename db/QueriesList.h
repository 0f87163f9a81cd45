// The data module's queries and stored-procedure calls: one row each with its
// connection, read and update transaction (nullptr: those of the connection)
// and its SQL text. Included inside TDbModule, which defines the two row macros
// to declare the members, and by Queries.cpp to list them by name.
//
// Queries with an empty text serve modules of the product whose statements
// are not known here beyond their tables: they are registered with their
// bindings, and the module that opens one sets its text first. QTmp and
// QTmpK are scratch queries whose text is always set at run time.

// Scratch queries and key generators.
TAVREL_DM_QUERY(QTmp, FDconUrv, &FDTrUrvQ, &FDTrUrvQ, "")
TAVREL_DM_STORED_PROC(pGenU, FDconUrv, &FDTrUrvQ, &FDTrUrvQ, "GetGenValue",
                      (std::vector<TDbParam>{TDbParam("@RETURN_VALUE", TDbParamDirection::Result),
                                             TDbParam("@iGenN", TDbParamDirection::Input),
                                             TDbParam("@oNV", TDbParamDirection::InputOutput)}))
TAVREL_DM_QUERY(QTmpK, FDconGremond, &FDTrGremondQ, &FDTrGremondQ, "")
// Its parameter names are the database's own; callers address them by position.
TAVREL_DM_STORED_PROC(pGenK, FDconGremond, &FDTrGremondQ, &FDTrGremondQ, "GetIdObject",
                      (std::vector<TDbParam>{TDbParam("", TDbParamDirection::Result),
                                             TDbParam("", TDbParamDirection::Input),
                                             TDbParam("", TDbParamDirection::InputOutput)}))

// Department structure.
TAVREL_DM_QUERY(QRoot, FDconUrv, &FDTrUrvSel, nullptr,
                "select s.CHILD_ID, d.NAIM_K, d.NAIM_D\n"
                "from STRUCTURE s left join DEPARTM d on s.CHILD_ID=d.CODE\n"
                "where (Parent_ID=0) or (Parent_ID is null)\n"
                "order by POS")
TAVREL_DM_QUERY(QParents, FDconUrv, &FDTrUrvSel, nullptr,
                "select s.CHILD_ID, d.NAIM_K, d.NAIM_D\n"
                "from STRUCTURE s left join DEPARTM d on s.CHILD_ID=d.CODE\n"
                "where Parent_ID=:pRoot\n"
                "order by POS")
TAVREL_DM_QUERY(QBranch, FDconUrv, &FDTrUrvSel, nullptr,
                "select s.CHILD_ID, d.NAIM_K\n"
                "from STRUCTURE s left join DEPARTM d on s.CHILD_ID=d.CODE\n"
                "where s.Parent_ID=:pFCh\n"
                "order by s.POS")
TAVREL_DM_QUERY(QDepByCod, FDconUrv, &FDTrUrvSel, nullptr,
                "select NAIM_K, CODE from DEPARTM\n"
                "order by CODE")
TAVREL_DM_QUERY(QFindDep, FDconUrv, &FDTrUrvSel, nullptr,
                "select * from DEPARTM\n"
                "where CODE=:pCod")
TAVREL_DM_QUERY(QDepChild, FDconUrv, &FDTrUrvSel, nullptr,
                "select s.CHILD_ID, d.NAIM_K\n"
                "from STRUCTURE s inner join DEPARTM d\n"
                "     on s.CHILD_ID = d.CODE\n"
                "where s.Parent_ID = :pPar\n"
                "order by s.POS")
TAVREL_DM_QUERY(QDepParents, FDconUrv, &FDTrUrvSel, nullptr,
                "select PARENT_ID\n"
                "from STRUCTURE\n"
                "where CHILD_ID=:pDep")
TAVREL_DM_QUERY(QFDep, FDconUrv, &FDTrUrvSel, nullptr,
                "select NAIM_K from DEPARTM\n"
                "where  CODE=:pdep")
TAVREL_DM_QUERY(QFJob, FDconUrv, &FDTrUrvSel, nullptr,
                "select NAIM_K from JOBS\n"
                "where  CODE=:pjob")

// Holidays.
TAVREL_DM_QUERY(QHld, FDconUrv, nullptr, nullptr,
                "select N from HLDTAB where\n"
                "(M=:pm) and (D=:pd)")

// Personnel synchronisation with the access-control database.
TAVREL_DM_QUERY(QIdTp, FDconGremond, &FDTrGremondSel, &FDTrGremondQ,
                "select INDICATION from CLITYPES\n"
                "where CLI_KIND=:pCd")
TAVREL_DM_QUERY(QF_UID, FDconGremond, &FDTrGremondSel, &FDTrGremondQ,
                "select USER_ID from PERSONNEL\n"
                "where TABN=:pTN")
TAVREL_DM_QUERY(QF_ID, FDconGremond, &FDTrGremondSel, &FDTrGremondQ,
                "select USER_ID from PERSONNEL\n"
                "where NUM=:pTN\n")
TAVREL_DM_QUERY(QFDepK, FDconGremond, &FDTrGremondSel, &FDTrGremondQ,
                "select CODE from DEPARTMENT\n"
                "where (NAME=:pNM) or (NAME=:pN)")
TAVREL_DM_QUERY(QFJobK, FDconGremond, &FDTrGremondSel, &FDTrGremondQ,
                "select PROFESSION_ID from PROFESSION\n"
                "where (NAME=:pNM) or (NAME=:pN)")
TAVREL_DM_QUERY(QFOrgK, FDconGremond, &FDTrGremondSel, &FDTrGremondQ,
                "select ORG_ID from AlienOrg\n"
                "where (NAME=:pNM) or (NAME=:pN)")
TAVREL_DM_QUERY(QInsDepK, FDconGremond, &FDTrGremondQ, &FDTrGremondQ,
                "insert into DEPARTMENT (CODE, NAME, FULL_NAME, DATE_START)\n"
                "values (:pCD, :pN, :pN, :pDt)")
TAVREL_DM_QUERY(QInsJobK, FDconGremond, &FDTrGremondQ, &FDTrGremondQ,
                "insert into PROFESSION\n"
                " (PROFESSION_ID, NAME, FULL_NAME, DATE_START)\n"
                "values (:pCD, :pN, :pN, :pDt)")

// For the product's other modules, working-time database.
TAVREL_DM_QUERY(QOperator, FDconUrv, &FDTrUrvSel, nullptr, "select * from Timekeepers\norder by Nickname")
TAVREL_DM_QUERY(QDelB, FDconUrv, &FDTrUrvQ, &FDTrUrvQ, "delete from BUFER\nwhere UID=0")
TAVREL_DM_QUERY(QDelTT, FDconUrv, &FDTrUrvQ, &FDTrUrvQ, "")
TAVREL_DM_QUERY(QBound, FDconUrv, &FDTrUrvSel, &FDTrUrvQ, "select * from AddWorkTime")
TAVREL_DM_QUERY(QTDep, FDconUrv, &FDTrUrvSel, &FDTrUrvQ, "")
TAVREL_DM_QUERY(QDepM, FDconUrv, &FDTrUrvSel, &FDTrUrvQ, "")
TAVREL_DM_QUERY(QSt, FDconUrv, &FDTrUrvSel, nullptr, "")
TAVREL_DM_QUERY(QAllBrig, FDconUrv, &FDTrUrvSel, nullptr, "")
TAVREL_DM_QUERY(QFindBrig, FDconUrv, &FDTrUrvSel, nullptr, "")
TAVREL_DM_QUERY(QDep, FDconUrv, &FDTrUrvSel, nullptr, "")
TAVREL_DM_QUERY(QJob, FDconUrv, &FDTrUrvSel, nullptr, "")
TAVREL_DM_QUERY(QInsB1, FDconUrv, &FDTrUrvQ, &FDTrUrvQ, "")
TAVREL_DM_QUERY(QSfromDep, FDconUrv, nullptr, nullptr, "")
TAVREL_DM_QUERY(QStFromDep, FDconUrv, &FDTrUrvSel, nullptr, "")
TAVREL_DM_QUERY(QTUser, FDconUrv, &FDTrUrvSel, nullptr, "select * from CLITYPES")
TAVREL_DM_QUERY(QBrigDep, FDconUrv, nullptr, nullptr, "")
TAVREL_DM_QUERY(QInsArchW, FDconUrv, nullptr, nullptr, "")
TAVREL_DM_QUERY(QCliFDep, FDconUrv, &FDTrUrvSel, nullptr, "")
TAVREL_DM_QUERY(QAb, FDconUrv, &FDTrUrvSel, nullptr, "")
TAVREL_DM_QUERY(QShabl, FDconUrv, &FDTrUrvSel, nullptr, "")
TAVREL_DM_QUERY(QColSt, FDconUrv, &FDTrUrvSel, nullptr, "")
TAVREL_DM_QUERY(QFCard, FDconUrv, &FDTrUrvSel, nullptr, "")
TAVREL_DM_QUERY(QCliTp, FDconUrv, &FDTrUrvSel, nullptr, "")
TAVREL_DM_QUERY(QFindStPos, FDconUrv, nullptr, nullptr, "")
TAVREL_DM_QUERY(QFindMan, FDconUrv, &FDTrUrvSel, nullptr, "")
TAVREL_DM_QUERY(QFUser, FDconUrv, &FDTrUrvSel, nullptr, "")
TAVREL_DM_QUERY(QNTip, FDconUrv, &FDTrUrvSel, nullptr, "")
TAVREL_DM_QUERY(QHistUser, FDconUrv, &FDTrUrvSel, nullptr, "")
TAVREL_DM_QUERY(QCliGr, FDconUrv, &FDTrUrvSel, nullptr, "select * from CLIGROUP")
TAVREL_DM_QUERY(QCliInGr, FDconUrv, nullptr, nullptr, "")
TAVREL_DM_QUERY(QFindCliGr, FDconUrv, &FDTrUrvSel, nullptr, "")
TAVREL_DM_QUERY(QCliBrigNow, FDconUrv, &FDTrUrvSel, &FDTrUrvQ, "")
TAVREL_DM_QUERY(QFJobByDt, FDconUrv, &FDTrUrvSel, &FDTrUrvQ, "")
TAVREL_DM_QUERY(QTAbs, FDconUrv, &FDTrUrvSel, &FDTrUrvQ, "select * from TIPE_ABS")
TAVREL_DM_QUERY(QSmena, FDconUrv, &FDTrUrvSel, nullptr, "")
TAVREL_DM_QUERY(QEndPHist, FDconUrv, &FDTrUrvQ, &FDTrUrvQ, "")
TAVREL_DM_QUERY(QFSmen, FDconUrv, &FDTrUrvSel, &FDTrUrvQ, "")
TAVREL_DM_QUERY(QNewWE, FDconUrv, &FDTrUrvSel, &FDTrUrvQ, "")
// Inserts a history row of a person into PERS_HISTORY.
TAVREL_DM_QUERY(QInsPHist, FDconUrv, &FDTrUrvQ, &FDTrUrvQ, "")

// For the product's other modules, access-control database.
TAVREL_DM_QUERY(QInsDb, FDconGremond, &FDTrGremondQ, &FDTrGremondQ, "")
TAVREL_DM_QUERY(QDoor, FDconGremond, &FDTrGremondSel, nullptr, "select * from DOORSTAB")
TAVREL_DM_QUERY(QFCardCD, FDconGremond, &FDTrGremondSel, &FDTrGremondQ, "")
TAVREL_DM_QUERY(QFCardN, FDconGremond, &FDTrGremondSel, &FDTrGremondQ, "")
TAVREL_DM_QUERY(QExp, FDconGremond, &FDTrGremondQ, &FDTrGremondQ, "")
TAVREL_DM_QUERY(QFNByTab, FDconGremond, &FDTrGremondSel, &FDTrGremondQ, "")
TAVREL_DM_QUERY(QGremondJob, FDconGremond, &FDTrGremondSel, &FDTrGremondQ, "")
TAVREL_DM_QUERY(QGremondDep, FDconGremond, &FDTrGremondSel, &FDTrGremondQ, "")
TAVREL_DM_QUERY(QZKind, FDconGremond, &FDTrGremondSel, &FDTrGremondQ, "")
