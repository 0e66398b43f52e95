<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_CA">
<context>
    <name>EFTMemb</name>
    <message>
        <source> Error !  </source>
        <translation> Erreur !  </translation>
    </message>
    <message>
        <source>ERROR</source>
        <translation>ERREUR</translation>
    </message>
    <message>
        <source>Center</source>
        <translation>Centre</translation>
    </message>
    <message>
        <source>Name of Center</source>
        <translation>Nom du centre</translation>
    </message>
    <message>
        <source>Due In</source>
        <translation>À recevoir</translation>
    </message>
    <message>
        <source>Due Out</source>
        <translation>À verser</translation>
    </message>
    <message>
        <source>Net In</source>
        <translation>Net reçu</translation>
    </message>
    <message>
        <source>Net Out</source>
        <translation>Net versé</translation>
    </message>
    <message>
        <source>Date </source>
        <translation>Date </translation>
    </message>
    <message>
        <source>Member</source>
        <translation>Membre</translation>
    </message>
    <message>
        <source>Source</source>
        <translation>Source</translation>
    </message>
    <message>
        <source>Total</source>
        <translation>Total</translation>
    </message>
    <message>
        <source>Royalty</source>
        <translation>Redevance</translation>
    </message>
    <message>
        <source>NAC</source>
        <translation>FAN</translation>
    </message>
    <message>
        <source>Franchise Fee</source>
        <translation>Droit de franchise</translation>
    </message>
    <message>
        <source>GST</source>
        <translation>TPS</translation>
    </message>
    <message>
        <source>PST</source>
        <translation>TVP</translation>
    </message>
    <message>
        <source>NMC Payments</source>
        <translation>Paiements NMC</translation>
    </message>
    <message>
        <source>Member Name</source>
        <translation>Nom du membre</translation>
    </message>
    <message>
        <source>X</source>
        <translation>X</translation>
    </message>
    <message>
        <source>Center Name</source>
        <translation>Nom du centre</translation>
    </message>
    <message>
        <source>Amount</source>
        <translation>Montant</translation>
    </message>
    <message>
        <source>Premium Center(s) Ready For EFT</source>
        <translation>Centre(s) Premium prêts pour le TEF</translation>
    </message>
    <message>
        <source>Grand Total: $0.00</source>
        <translation>Total général : $0.00</translation>
    </message>
    <message>
        <source>&amp;Load Data</source>
        <translation>Char&amp;ger</translation>
    </message>
    <message>
        <source>&amp;Select All</source>
        <translation>&amp;Tout cocher</translation>
    </message>
    <message>
        <source>DeSelect &amp;All</source>
        <translation>Tout &amp;décocher</translation>
    </message>
    <message>
        <source>United States</source>
        <translation>États-&amp;Unis</translation>
    </message>
    <message>
        <source>Canada</source>
        <translation>Ca&amp;nada</translation>
    </message>
    <message>
        <source>&amp;Details</source>
        <translation>Déta&amp;ils</translation>
    </message>
    <message>
        <source>Amount Eligible: $0.00</source>
        <translation>Montant admissible : $0.00</translation>
    </message>
    <message>
        <source>Amount Selected: $0.00</source>
        <translation>Montant choisi : $0.00</translation>
    </message>
    <message>
        <source>S&amp;elect All</source>
        <translation>&amp;Tout cocher</translation>
    </message>
    <message>
        <source>DeSelec&amp;t All</source>
        <translation>Tout &amp;décocher</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>Enregist&amp;rer</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>A&amp;nnuler</translation>
    </message>
    <message>
        <source>Please set / check  centers which have cleared:</source>
        <translation>Cochez les centres dont le prélèvement a été compensé :</translation>
    </message>
    <message>
        <source>Commit</source>
        <translation>&amp;Valider</translation>
    </message>
    <message>
        <source>List of Centers</source>
        <translation>Liste des &amp;centres</translation>
    </message>
    <message>
        <source>Membership Sweep</source>
        <translation>&amp;Prélèvement</translation>
    </message>
    <message>
        <source>Export Batch</source>
        <translation>E&amp;xporter le lot</translation>
    </message>
    <message>
        <source>Update Batch Status</source>
        <translation>Mise à &amp;jour des lots</translation>
    </message>
    <message>
        <source>The server refused the save (HTTP %1): %2</source>
        <translation>Le serveur a refusé l&apos;enregistrement (HTTP %1) : %2</translation>
    </message>
    <message>
        <source>The save was not taken: %1</source>
        <translation>L&apos;enregistrement n&apos;a pas été accepté : %1</translation>
    </message>
    <message>
        <source>The save failed: %1</source>
        <translation>L&apos;enregistrement a échoué : %1</translation>
    </message>
    <message>
        <source>The save may have been recorded: it reached the server, but %1. Load the sweep again before you save again: rows that were saved are no longer in it.</source>
        <translation>L&apos;enregistrement a peut-être été pris en compte : il a atteint le serveur, mais %1. Rechargez le prélèvement avant d&apos;enregistrer à nouveau : les lignes enregistrées n&apos;y figurent plus.</translation>
    </message>
    <message>
        <source>The server refused the commit (HTTP %1): %2</source>
        <translation>Le serveur a refusé la validation (HTTP %1) : %2</translation>
    </message>
    <message>
        <source>The commit was not taken: %1</source>
        <translation>La validation n&apos;a pas été acceptée : %1</translation>
    </message>
    <message>
        <source>The commit failed: %1</source>
        <translation>La validation a échoué : %1</translation>
    </message>
    <message>
        <source>The commit may have been recorded: it reached the server, but %1. Load the batch list again before you commit again: a batch whose statuses were recorded is no longer listed.</source>
        <translation>La validation a peut-être été prise en compte : elle a atteint le serveur, mais %1. Rechargez la liste des lots avant de valider à nouveau : un lot dont les états ont été enregistrés n&apos;y figure plus.</translation>
    </message>
    <message>
        <source>The server refused the request (HTTP %1): %2</source>
        <translation>Le serveur a refusé la demande (HTTP %1) : %2</translation>
    </message>
    <message>
        <source>The request was not taken: %1</source>
        <translation>La demande n&apos;a pas été acceptée : %1</translation>
    </message>
    <message>
        <source>The request failed: %1</source>
        <translation>La demande a échoué : %1</translation>
    </message>
    <message>
        <source>The request may have been recorded: it reached the server, but %1. Load the data again before you try again.</source>
        <translation>La demande a peut-être été prise en compte : elle a atteint le serveur, mais %1. Rechargez les données avant de réessayer.</translation>
    </message>
    <message>
        <source>Version: %1</source>
        <translation>Version : %1</translation>
    </message>
    <message>
        <source>Amount Eligible (Total): $ %1</source>
        <translation>Montant admissible (total) : $ %1</translation>
    </message>
    <message>
        <source>Amount Selected (Total): $ %1</source>
        <translation>Montant choisi (total) : $ %1</translation>
    </message>
    <message>
        <source>Membership Sweep (%1)</source>
        <translation>&amp;Prélèvement (%1)</translation>
    </message>
    <message>
        <source> Batch # : %1     Exported : %2</source>
        <translation> Lot nº : %1     Exporté le : %2</translation>
    </message>
    <message>
        <source> Batch # : %1     Exported : %2     %3</source>
        <translation> Lot nº : %1     Exporté le : %2     %3</translation>
    </message>
    <message>
        <source> Please Select Batch Number : </source>
        <translation> Choisissez le numéro du lot : </translation>
    </message>
    <message>
        <source>the %1 sweep</source>
        <translation>le prélèvement (%1)</translation>
    </message>
    <message>
        <source>Loading %1</source>
        <translation>Chargement : %1</translation>
    </message>
    <message>
        <source>%1 could not be loaded: %2</source>
        <translation>Impossible de charger %1 : %2</translation>
    </message>
    <message>
        <source>The list of centers is not complete: %1.</source>
        <translation>La liste des centres n&apos;est pas complète : %1.</translation>
    </message>
    <message>
        <source>The member list is not complete: %1.</source>
        <translation>La liste des membres n&apos;est pas complète : %1.</translation>
    </message>
    <message>
        <source>Nothing was saved: %1.</source>
        <translation>Rien n&apos;a été enregistré : %1.</translation>
    </message>
    <message>
        <source>The batch export failed: %1</source>
        <translation>L&apos;exportation du lot a échoué : %1</translation>
    </message>
    <message>
        <source>Returned by the bank: %1 %2, on %3. It is recorded as failed and cannot be ticked.</source>
        <translation>Retourné par la banque : %1 %2, le %3. Il est enregistré comme échoué et ne peut pas être coché.</translation>
    </message>
    <message>
        <source>Information Validation</source>
        <translation>Validation de l&apos;information</translation>
    </message>
    <message>
        <source>EFT Batch Generation</source>
        <translation>Création du lot TEF</translation>
    </message>
    <message>
        <source>At least one center must be selected in order to see the detail entries.</source>
        <translation>Cochez au moins un centre pour voir le détail des écritures.</translation>
    </message>
    <message>
        <source>At least one member must be selected in order to save the detail entries.</source>
        <translation>Cochez au moins un membre pour enregistrer le détail des écritures.</translation>
    </message>
    <message>
        <source>Do you want to save ? </source>
        <translation>Voulez-vous enregistrer ? </translation>
    </message>
    <message>
        <source>Do you want to export eligible items to two ASCII files (USA/Canada) ? </source>
        <translation>Voulez-vous exporter les éléments admissibles dans deux fichiers ASCII (É.-U./Canada) ? </translation>
    </message>
    <message>
        <source>Do you want to set selected items as &quot;Cleared&quot; and unselected as Failed ? </source>
        <translation>Voulez-vous marquer les éléments cochés comme « Compensés » et les autres comme « Échoués » ? </translation>
    </message>
    <message>
        <source>No batch is chosen. Choose a batch number in the list first, then tick the centers that cleared.</source>
        <translation>Aucun lot n&apos;est choisi. Choisissez d&apos;abord un numéro de lot dans la liste, puis cochez les centres compensés.</translation>
    </message>
    <message>
        <source>Reading the batch list</source>
        <translation>Lecture de la liste des lots</translation>
    </message>
    <message>
        <source>Exporting the batch</source>
        <translation>Exportation du lot</translation>
    </message>
    <message>
        <source>Saving the chosen rows</source>
        <translation>Enregistrement des lignes choisies</translation>
    </message>
    <message>
        <source>Committing the batch</source>
        <translation>Validation du lot</translation>
    </message>
    <message>
        <source>Sending to the server</source>
        <translation>Envoi au serveur</translation>
    </message>
    <message>
        <source>the server&apos;s reply could not be read. Tell the server&apos;s administrator.</source>
        <translation>la réponse du serveur est illisible. Prévenez l&apos;administrateur du serveur.</translation>
    </message>
    <message>
        <source>the server&apos;s report could not be read. Tell the server&apos;s administrator.</source>
        <translation>le rapport du serveur est illisible. Prévenez l&apos;administrateur du serveur.</translation>
    </message>
    <message>
        <source>Reading from the server</source>
        <translation>Lecture depuis le serveur</translation>
    </message>
    <message>
        <source>The login was not checked: it was asked from another thread.</source>
        <translation>La connexion n&apos;a pas été vérifiée : elle a été demandée depuis un autre fil d&apos;exécution.</translation>
    </message>
    <message>
        <source>Address: %1</source>
        <translation>Adresse : %1</translation>
    </message>
    <message>
        <source>HTTP status: %1</source>
        <translation>État HTTP : %1</translation>
    </message>
    <message>
        <source>The %1 sweep could not be loaded: %2</source>
        <translation>Impossible de charger le prélèvement (%1) : %2</translation>
    </message>
    <message>
        <source>the server&apos;s reply could not be read (%1). Tell the server&apos;s administrator.</source>
        <translation>la réponse du serveur est illisible (%1). Prévenez l&apos;administrateur du serveur.</translation>
    </message>
    <message>
        <source>selected</source>
        <translation>coché</translation>
    </message>
    <message>
        <source>not selected</source>
        <translation>non coché</translation>
    </message>
    <message>
        <source>Steps</source>
        <translation>Étapes</translation>
    </message>
    <message>
        <source>The four steps: the centers, their members, the export and the batch status.</source>
        <translation>Les quatre étapes : les centres, leurs membres, l&apos;exportation et l&apos;état des lots.</translation>
    </message>
    <message>
        <source>Centers ready for EFT</source>
        <translation>Centres prêts pour le TEF</translation>
    </message>
    <message>
        <source>Tick the centers whose members you review; Space ticks the current line.</source>
        <translation>Cochez les centres dont vous révisez les membres ; Espace coche la ligne courante.</translation>
    </message>
    <message>
        <source>What the listed centers bring in; read again when it changes.</source>
        <translation>Ce que rapportent les centres de la liste ; relu à chaque changement.</translation>
    </message>
    <message>
        <source>Loads the sweep of the chosen country.</source>
        <translation>Charge le prélèvement du pays choisi.</translation>
    </message>
    <message>
        <source>Ticks every center.</source>
        <translation>Coche tous les centres.</translation>
    </message>
    <message>
        <source>Unticks every center.</source>
        <translation>Décoche tous les centres.</translation>
    </message>
    <message>
        <source>Loads the United States sweep.</source>
        <translation>Charge le prélèvement des États-Unis.</translation>
    </message>
    <message>
        <source>Loads the Canadian sweep.</source>
        <translation>Charge le prélèvement du Canada.</translation>
    </message>
    <message>
        <source>Shows the member charges of the ticked centers.</source>
        <translation>Affiche les frais des membres des centres cochés.</translation>
    </message>
    <message>
        <source>The control&apos;s version.</source>
        <translation>La version du contrôle.</translation>
    </message>
    <message>
        <source>Member charges</source>
        <translation>Frais des membres</translation>
    </message>
    <message>
        <source>Tick the charges to save; Space ticks the current line.</source>
        <translation>Cochez les frais à enregistrer ; Espace coche la ligne courante.</translation>
    </message>
    <message>
        <source>The total of the listed charges; read again when it changes.</source>
        <translation>Le total des frais de la liste ; relu à chaque changement.</translation>
    </message>
    <message>
        <source>The total of the ticked charges; read again when it changes.</source>
        <translation>Le total des frais cochés ; relu à chaque changement.</translation>
    </message>
    <message>
        <source>Ticks every charge.</source>
        <translation>Coche tous les frais.</translation>
    </message>
    <message>
        <source>Unticks every charge.</source>
        <translation>Décoche tous les frais.</translation>
    </message>
    <message>
        <source>Saves the ticked charges.</source>
        <translation>Enregistre les frais cochés.</translation>
    </message>
    <message>
        <source>Goes back to the centers without saving.</source>
        <translation>Revient aux centres sans enregistrer.</translation>
    </message>
    <message>
        <source>Batch number</source>
        <translation>Numéro du lot</translation>
    </message>
    <message>
        <source>The exported batch whose status you set.</source>
        <translation>Le lot exporté dont vous fixez l&apos;état.</translation>
    </message>
    <message>
        <source>Centers of the batch</source>
        <translation>Centres du lot</translation>
    </message>
    <message>
        <source>Tick the centers that cleared; the others are recorded as failed.</source>
        <translation>Cochez les centres compensés ; les autres sont enregistrés comme échoués.</translation>
    </message>
    <message>
        <source>Records the ticked centers as cleared and the others as failed.</source>
        <translation>Enregistre les centres cochés comme compensés et les autres comme échoués.</translation>
    </message>
    <message>
        <source>Center %1, %2, Due In %3, %4</source>
        <translation>Centre %1, %2, à recevoir %3, %4</translation>
    </message>
    <message>
        <source>Member %1, %2, %3, Total %4, %5</source>
        <translation>Membre %1, %2, %3, total %4, %5</translation>
    </message>
    <message>
        <source>Center %1, %2, Amount %3, %4</source>
        <translation>Centre %1, %2, montant %3, %4</translation>
    </message>
    <message>
        <source>Reading %1: %2</source>
        <translation>Lecture de %1 : %2</translation>
    </message>
    <message>
        <source>the page could not be fetched (%1)</source>
        <translation>la page n&apos;a pas pu être obtenue (%1)</translation>
    </message>
    <message>
        <source>%1; the server answered HTTP %2</source>
        <translation>%1 ; le serveur a répondu HTTP %2</translation>
    </message>
    <message>
        <source>the server answered HTTP %1</source>
        <translation>le serveur a répondu HTTP %1</translation>
    </message>
    <message>
        <source>record %1: %2</source>
        <translation>enregistrement %1 : %2</translation>
    </message>
    <message>
        <source>record %1 has more than %2 child nodes</source>
        <translation>l&apos;enregistrement %1 a plus de %2 nœuds enfants</translation>
    </message>
    <message>
        <source>the element &lt;%1&gt; is not a field of %2</source>
        <translation>l&apos;élément &lt;%1&gt; n&apos;est pas un champ de %2</translation>
    </message>
    <message>
        <source>the reply is a web page, not a report: its document element is &lt;%1&gt;</source>
        <translation>la réponse est une page Web, pas un rapport : son élément racine est &lt;%1&gt;</translation>
    </message>
    <message>
        <source>the reply is a web page, not a report: its document element is &lt;%1&gt; in the XHTML namespace</source>
        <translation>la réponse est une page Web, pas un rapport : son élément racine est &lt;%1&gt; dans l&apos;espace de noms XHTML</translation>
    </message>
    <message>
        <source>the reply declares a document type (&lt;!DOCTYPE&gt;), which a reply may not carry</source>
        <translation>la réponse déclare un type de document (&lt;!DOCTYPE&gt;), ce qu&apos;une réponse ne peut pas contenir</translation>
    </message>
    <message>
        <source>the reply nests elements more than %1 levels deep</source>
        <translation>la réponse imbrique des éléments sur plus de %1 niveaux</translation>
    </message>
    <message>
        <source>the reply has no document element</source>
        <translation>la réponse n&apos;a pas d&apos;élément racine</translation>
    </message>
    <message>
        <source>the reply is empty</source>
        <translation>la réponse est vide</translation>
    </message>
    <message>
        <source>the reply is not XML (text or another element outside its document element)</source>
        <translation>la réponse n&apos;est pas du XML (du texte ou un autre élément hors de son élément racine)</translation>
    </message>
    <message>
        <source>the reply ends before its document element is closed</source>
        <translation>la réponse se termine avant la fermeture de son élément racine</translation>
    </message>
    <message>
        <source>the reply is not XML (%1 at byte %2)</source>
        <translation>la réponse n&apos;est pas du XML (%1 à l&apos;octet %2)</translation>
    </message>
    <message>
        <source>the reply could not be handed to the XML parser</source>
        <translation>la réponse n&apos;a pas pu être transmise à l&apos;analyseur XML</translation>
    </message>
    <message>
        <source>the HTTP client could not be created</source>
        <translation>le client HTTP n&apos;a pas pu être créé</translation>
    </message>
    <message>
        <source>the request could not be started</source>
        <translation>la demande n&apos;a pas pu être lancée</translation>
    </message>
    <message>
        <source>the whole transfer took longer than %1 ms</source>
        <translation>le transfert complet a duré plus de %1 ms</translation>
    </message>
    <message>
        <source>the reply is encoded (%1), which was not asked for</source>
        <translation>la réponse est encodée (%1), ce qui n&apos;a pas été demandé</translation>
    </message>
    <message>
        <source>the reader stopped the transfer</source>
        <translation>le lecteur a arrêté le transfert</translation>
    </message>
    <message>
        <source>the server redirected to %1, another server, which is not followed</source>
        <translation>le serveur a redirigé vers %1, un autre serveur, ce qui n&apos;est pas suivi</translation>
    </message>
    <message>
        <source>the server redirected more than %1 times</source>
        <translation>le serveur a redirigé plus de %1 fois</translation>
    </message>
    <message>
        <source>the request was abandoned</source>
        <translation>la demande a été abandonnée</translation>
    </message>
    <message>
        <source>the reply is larger than %1 bytes</source>
        <translation>la réponse dépasse %1 octets</translation>
    </message>
    <message>
        <source>nothing was received for %1 s</source>
        <translation>rien n&apos;a été reçu pendant %1 s</translation>
    </message>
    <message>
        <source>The request was sent whole; no answer was read.</source>
        <translation>La demande a été envoyée en entier ; aucune réponse n&apos;a été lue.</translation>
    </message>
    <message>
        <source>the server refused the login (HTTP %1). Sign in with a valid user name and password.</source>
        <translation>le serveur a refusé la connexion (HTTP %1). Connectez-vous avec un nom d&apos;utilisateur et un mot de passe valides.</translation>
    </message>
    <message>
        <source>the server refused the request (HTTP %1). Wait a minute and try again, or ask its administrator.</source>
        <translation>le serveur a refusé la demande (HTTP %1). Attendez une minute et réessayez, ou adressez-vous à son administrateur.</translation>
    </message>
    <message>
        <source>the server has no such page (HTTP %1). Check the server address.</source>
        <translation>le serveur n&apos;a pas cette page (HTTP %1). Vérifiez l&apos;adresse du serveur.</translation>
    </message>
    <message>
        <source>the server failed (HTTP %1). Try again later, or tell its administrator.</source>
        <translation>le serveur a échoué (HTTP %1). Réessayez plus tard, ou prévenez son administrateur.</translation>
    </message>
    <message>
        <source>the server sent the request elsewhere (HTTP %1). Check the server address.</source>
        <translation>le serveur a renvoyé la demande ailleurs (HTTP %1). Vérifiez l&apos;adresse du serveur.</translation>
    </message>
    <message>
        <source>the server refused the request (HTTP %1).</source>
        <translation>le serveur a refusé la demande (HTTP %1).</translation>
    </message>
    <message>
        <source>the reply is larger than %1 bytes. Tell the server&apos;s administrator.</source>
        <translation>la réponse dépasse %1 octets. Prévenez l&apos;administrateur du serveur.</translation>
    </message>
    <message>
        <source>the server stopped sending. Try again later.</source>
        <translation>le serveur a cessé d&apos;envoyer. Réessayez plus tard.</translation>
    </message>
    <message>
        <source>the server address is not valid or not known. Check the server address.</source>
        <translation>l&apos;adresse du serveur n&apos;est pas valide ou pas connue. Vérifiez l&apos;adresse du serveur.</translation>
    </message>
    <message>
        <source>the server could not be reached. Check that it is running and that the network is up, then try again.</source>
        <translation>le serveur n&apos;a pas pu être joint. Vérifiez qu&apos;il fonctionne et que le réseau est disponible, puis réessayez.</translation>
    </message>
    <message>
        <source>the server did not answer in time. Try again later.</source>
        <translation>le serveur n&apos;a pas répondu à temps. Réessayez plus tard.</translation>
    </message>
    <message>
        <source>the secure connection to the server failed (its certificate was not accepted). Check the server address and the certificate authority.</source>
        <translation>la connexion sécurisée au serveur a échoué (son certificat n&apos;a pas été accepté). Vérifiez l&apos;adresse du serveur et l&apos;autorité de certification.</translation>
    </message>
    <message>
        <source>the connection to the server broke off. Try again.</source>
        <translation>la connexion au serveur a été interrompue. Réessayez.</translation>
    </message>
    <message>
        <source>the transfer failed. Try again.</source>
        <translation>le transfert a échoué. Réessayez.</translation>
    </message>
    <message>
        <source>the server&apos;s reply came encoded (%1), which was not asked for, and cannot be read. Tell the server&apos;s administrator.</source>
        <translation>la réponse du serveur est arrivée encodée (%1), ce qui n&apos;a pas été demandé, et ne peut pas être lue. Prévenez l&apos;administrateur du serveur.</translation>
    </message>
    <message>
        <source>a gateway in front of it gave up waiting for its answer (HTTP %1)</source>
        <translation>une passerelle placée devant lui a cessé d&apos;attendre sa réponse (HTTP %1)</translation>
    </message>
    <message>
        <source>its answer was larger than %1 bytes and was not read</source>
        <translation>sa réponse dépassait %1 octets et n&apos;a pas été lue</translation>
    </message>
    <message>
        <source>nothing came from it for %1 while its answer was awaited</source>
        <translation>rien n&apos;est venu de lui pendant %1 alors que sa réponse était attendue</translation>
    </message>
    <message>
        <source>its answer did not come within %1</source>
        <translation>sa réponse n&apos;est pas venue dans les %1</translation>
    </message>
    <message>
        <source>the connection broke off before its answer came</source>
        <translation>la connexion a été interrompue avant que sa réponse n&apos;arrive</translation>
    </message>
    <message>
        <source>its answer came encoded (%1), which was not asked for, and could not be read</source>
        <translation>sa réponse est arrivée encodée (%1), ce qui n&apos;a pas été demandé, et n&apos;a pas pu être lue</translation>
    </message>
    <message>
        <source>The batch list could not be read: %1</source>
        <translation>La liste des lots n&apos;a pas pu être lue : %1</translation>
    </message>
    <message>
        <source>Batch %1 could not be listed: %2</source>
        <translation>Le lot %1 n&apos;a pas pu être affiché : %2</translation>
    </message>
    <message>
        <source>The server refused the export: %1</source>
        <translation>Le serveur a refusé l&apos;exportation : %1</translation>
    </message>
    <message>
        <source>The server refused the export.</source>
        <translation>Le serveur a refusé l&apos;exportation.</translation>
    </message>
    <message>
        <source>The selected total cannot be shown: %1.</source>
        <translation>Le total sélectionné ne peut pas être affiché : %1.</translation>
    </message>
    <message>
        <source>Nothing was saved: one save carries at most %1 rows, and this one has %2. Choose fewer members and save again.</source>
        <translation>Rien n&apos;a été enregistré : un enregistrement porte au plus %1 lignes, et celui-ci en a %2. Choisissez moins de membres et enregistrez de nouveau.</translation>
    </message>
    <message>
        <source>… (%1 more line)</source>
        <translation>… (%1 ligne de plus)</translation>
    </message>
    <message>
        <source>… (%1 more lines)</source>
        <translation>… (%1 lignes de plus)</translation>
    </message>
    <message>
        <source>%1: the value %2 is not a valid 32-bit integer for the field %3</source>
        <translation>%1 : la valeur %2 n&apos;est pas un entier 32 bits valide pour le champ %3</translation>
    </message>
    <message>
        <source>%1: the value %2 is not a valid 16-bit integer for the field %3</source>
        <translation>%1 : la valeur %2 n&apos;est pas un entier 16 bits valide pour le champ %3</translation>
    </message>
    <message>
        <source>%1: the value %2 is not a valid single for the field %3</source>
        <translation>%1 : la valeur %2 n&apos;est pas un nombre simple précision valide pour le champ %3</translation>
    </message>
    <message>
        <source>%1: the value %2 is not a valid Boolean for the field %3</source>
        <translation>%1 : la valeur %2 n&apos;est pas un booléen valide pour le champ %3</translation>
    </message>
    <message>
        <source>%1: the value %2 is not a valid timestamp for the field %3</source>
        <translation>%1 : la valeur %2 n&apos;est pas un horodatage valide pour le champ %3</translation>
    </message>
    <message>
        <source>%1: the value %2 of the field %3 cannot be held to the cent (%4)</source>
        <translation>%1 : la valeur %2 du champ %3 ne peut pas être tenue au cent près (%4)</translation>
    </message>
    <message>
        <source>it is beyond single precision</source>
        <translation>elle dépasse la simple précision</translation>
    </message>
    <message>
        <source>it is not a finite number</source>
        <translation>ce n&apos;est pas un nombre fini</translation>
    </message>
    <message>
        <source>it is too large to be shown</source>
        <translation>elle est trop grande pour être affichée</translation>
    </message>
    <message>
        <source>single precision reads it as %1</source>
        <translation>la simple précision la lit comme %1</translation>
    </message>
    <message>
        <source>from %1 on, single precision does not hold every cent</source>
        <translation>à partir de %1, la simple précision ne tient pas chaque cent</translation>
    </message>
    <message>
        <source>%1: the value %2 is longer than %3 bytes, too long for the field %4</source>
        <translation>%1 : la valeur %2 dépasse %3 octets, trop longue pour le champ %4</translation>
    </message>
    <message>
        <source>%1: the field %2 appears twice</source>
        <translation>%1 : le champ %2 apparaît deux fois</translation>
    </message>
    <message>
        <source>the sweep row of %1</source>
        <translation>la ligne de prélèvement du %1</translation>
    </message>
    <message>
        <source>the batch item of %1</source>
        <translation>l&apos;élément de lot du %1</translation>
    </message>
    <message>
        <source>member %1</source>
        <translation>membre %1</translation>
    </message>
    <message>
        <source>center %1</source>
        <translation>centre %1</translation>
    </message>
    <message>
        <source>source %1</source>
        <translation>source %1</translation>
    </message>
    <message>
        <source>sweep sequence %1</source>
        <translation>séquence %1</translation>
    </message>
    <message>
        <source>batch %1</source>
        <translation>lot %1</translation>
    </message>
    <message>
        <source>%1 has no %2</source>
        <translation>%1 n&apos;a pas de %2</translation>
    </message>
    <message>
        <source>the amount %1 is too large to be shown</source>
        <translation>le montant %1 est trop grand pour être affiché</translation>
    </message>
    <message>
        <source>the total of %1 cents is too large to be shown</source>
        <translation>le total de %1 cents est trop grand pour être affiché</translation>
    </message>
    <message>
        <source>%1 has the CenterID 0</source>
        <translation>%1 a le CenterID 0</translation>
    </message>
    <message>
        <source>%1 has the batch number 0, which is no batch</source>
        <translation>%1 a le numéro de lot 0, qui n&apos;est pas un lot</translation>
    </message>
    <message>
        <source>a batch item has no BatchControl</source>
        <translation>un élément de lot n&apos;a pas de BatchControl</translation>
    </message>
    <message>
        <source>the sweep row</source>
        <translation>la ligne de prélèvement</translation>
    </message>
    <message>
        <source>the batch item</source>
        <translation>l&apos;élément de lot</translation>
    </message>
    <message>
        <source>the chosen row of %1 has no %2</source>
        <translation>la ligne choisie (%1) n&apos;a pas de %2</translation>
    </message>
    <message>
        <source>amount %1</source>
        <translation>montant %1</translation>
    </message>
    <message>
        <source>a row without center, name, date or amount</source>
        <translation>une ligne sans centre, nom, date ni montant</translation>
    </message>
    <message>
        <source>member %1 of %2</source>
        <translation>membre %1 du %2</translation>
    </message>
    <message>
        <source>center (none)</source>
        <translation>centre (aucun)</translation>
    </message>
    <message>
        <source>%1 (sweep sequence %2)</source>
        <translation>%1, séquence %2</translation>
    </message>
    <message>
        <source>%1: a field cannot be added once the table is open</source>
        <translation>%1 : aucun champ ne peut être ajouté une fois la table ouverte</translation>
    </message>
    <message>
        <source>%1: the field %2 is defined twice</source>
        <translation>%1 : le champ %2 est défini deux fois</translation>
    </message>
    <message>
        <source>%1: there is no field named %2</source>
        <translation>%1 : aucun champ ne s&apos;appelle %2</translation>
    </message>
    <message>
        <source>%1: the table is already open</source>
        <translation>%1 : la table est déjà ouverte</translation>
    </message>
    <message>
        <source>%1: the table is not open</source>
        <translation>%1 : la table n&apos;est pas ouverte</translation>
    </message>
    <message>
        <source>%1: too many rows</source>
        <translation>%1 : trop de lignes</translation>
    </message>
    <message>
        <source>%1: no such field</source>
        <translation>%1 : ce champ n&apos;existe pas</translation>
    </message>
    <message>
        <source>%1: no current row: the cursor stands before the first row (BOF)</source>
        <translation>%1 : pas de ligne courante : le curseur est avant la première ligne (BOF)</translation>
    </message>
    <message>
        <source>%1: no current row: the cursor stands after the last row (EOF)</source>
        <translation>%1 : pas de ligne courante : le curseur est après la dernière ligne (EOF)</translation>
    </message>
    <message>
        <source>%1: the current row has been deleted</source>
        <translation>%1 : la ligne courante a été supprimée</translation>
    </message>
    <message>
        <source>%1: the value %2 cannot be stored in the %3 field %4</source>
        <translation>%1 : la valeur %2 ne peut pas être rangée dans le champ %3 %4</translation>
    </message>
    <message>
        <source>%1: a timestamp cannot be stored in the %2 field %3</source>
        <translation>%1 : une date ne peut pas être rangée dans le champ %2 %3</translation>
    </message>
    <message>
        <source>%1: the field %2 does not hold a 32-bit whole number</source>
        <translation>%1 : le champ %2 ne contient pas un entier de 32 bits</translation>
    </message>
    <message>
        <source>%1: the field %2 does not hold a number</source>
        <translation>%1 : le champ %2 ne contient pas un nombre</translation>
    </message>
    <message>
        <source>%1: the field %2 does not hold true or false</source>
        <translation>%1 : le champ %2 ne contient pas vrai ou faux</translation>
    </message>
    <message>
        <source>%1: the field %2 does not hold a date</source>
        <translation>%1 : le champ %2 ne contient pas une date</translation>
    </message>
    <message>
        <source>%1: the filter term %2 has no &quot;=&quot;</source>
        <translation>%1 : le terme de filtre %2 n&apos;a pas de « = »</translation>
    </message>
    <message>
        <source>%1: the filter term %2 does not compare with a whole number</source>
        <translation>%1 : le terme de filtre %2 ne compare pas avec un nombre entier</translation>
    </message>
    <message>
        <source>%1: the value %2 of the field %3 cannot be compared with a whole number</source>
        <translation>%1 : la valeur %2 du champ %3 ne peut pas être comparée à un nombre entier</translation>
    </message>
    <message>
        <source>%1: no row is visible, so there is no first row to move to</source>
        <translation>%1 : aucune ligne n&apos;est visible, il n&apos;y a donc pas de première ligne où aller</translation>
    </message>
    <message>
        <source>%1: the cursor already stands after the last row (EOF)</source>
        <translation>%1 : le curseur est déjà après la dernière ligne (EOF)</translation>
    </message>
</context>
<context>
    <name>eft::host::HostWindow</name>
    <message>
        <source>1 center</source>
        <translation>1 centre</translation>
    </message>
    <message>
        <source>%1 centers</source>
        <translation>%1 centres</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>Prêt</translation>
    </message>
    <message>
        <source>Loaded %1 sweep rows of %2</source>
        <translation>%1 lignes de prélèvement chargées (%2)</translation>
    </message>
    <message>
        <source>Canada</source>
        <translation>Canada</translation>
    </message>
    <message>
        <source>the United States</source>
        <translation>États-Unis</translation>
    </message>
    <message>
        <source>%1. %2</source>
        <translation>%1. %2</translation>
    </message>
    <message>
        <source>Saved %1 member rows</source>
        <translation>%1 lignes de membres enregistrées</translation>
    </message>
    <message>
        <source>Exported: %1</source>
        <translation>Exporté : %1</translation>
    </message>
    <message>
        <source>Batch %1: %2 cleared, %3 failed</source>
        <translation>Lot %1 : compensés : %2, échoués : %3</translation>
    </message>
    <message>
        <source>EFT Membership Sweep</source>
        <translation>Prélèvement TEF des adhésions</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Fichier</translation>
    </message>
    <message>
        <source>&amp;Sign in…</source>
        <translation>&amp;Se connecter…</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Quitter</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>&amp;Affichage</translation>
    </message>
    <message>
        <source>&amp;Reload</source>
        <translation>&amp;Recharger</translation>
    </message>
    <message>
        <source>&amp;Messages…</source>
        <translation>&amp;Messages…</translation>
    </message>
    <message>
        <source>&amp;Language</source>
        <translation>&amp;Langue</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>Aid&amp;e</translation>
    </message>
    <message>
        <source>&amp;About</source>
        <translation>À &amp;propos</translation>
    </message>
    <message>
        <source>About eft-host</source>
        <translation>À propos d&apos;eft-host</translation>
    </message>
    <message>
        <source>Messages of this session</source>
        <translation>Messages de cette session</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Heure</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Message</translation>
    </message>
    <message>
        <source>Login refused: check the user name and the password.</source>
        <translation>Connexion refusée : vérifiez le nom d&apos;utilisateur et le mot de passe.</translation>
    </message>
    <message>
        <source>Signing in to %1 failed: %2</source>
        <translation>La connexion à %1 a échoué : %2</translation>
    </message>
    <message>
        <source>Not signed in: %1</source>
        <translation>Non connecté : %1</translation>
    </message>
    <message>
        <source>Error: %1</source>
        <translation>Erreur : %1</translation>
    </message>
    <message>
        <source>Connected to %1</source>
        <translation>Connecté à %1</translation>
    </message>
    <message>
        <source>Signed in to %1 as %2</source>
        <translation>Connecté à %1 en tant que %2</translation>
    </message>
    <message>
        <source>Nothing reloaded: go back to the list of centers, or wait for the transfer.</source>
        <translation>Rien n&apos;a été rechargé : revenez à la liste des centres ou attendez la fin du transfert.</translation>
    </message>
    <message>
        <source>&lt;b&gt;eft-host&lt;/b&gt; %1&lt;br&gt;The EFT membership sweep.&lt;br&gt;&lt;br&gt;Server: %2&lt;br&gt;Server version: %3</source>
        <translation>&lt;b&gt;eft-host&lt;/b&gt; %1&lt;br&gt;Le prélèvement TEF des adhésions.&lt;br&gt;&lt;br&gt;Serveur : %2&lt;br&gt;Version du serveur : %3</translation>
    </message>
    <message>
        <source>not known</source>
        <translation>inconnue</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 sur %2</translation>
    </message>
    <message>
        <source>%1… %2</source>
        <translation>%1… %2</translation>
    </message>
</context>
<context>
    <name>eft::host::LoginDialog</name>
    <message>
        <source>Login refused: check the user name and the password.</source>
        <translation>Connexion refusée : vérifiez le nom d&apos;utilisateur et le mot de passe.</translation>
    </message>
    <message>
        <source>&amp;Remember user</source>
        <translation>Se souvenir de l&apos;&amp;utilisateur</translation>
    </message>
    <message>
        <source>Sign in to the EFT server</source>
        <translation>Connexion au serveur TEF</translation>
    </message>
    <message>
        <source>&amp;Server:</source>
        <translation>&amp;Serveur :</translation>
    </message>
    <message>
        <source>&amp;User:</source>
        <translation>&amp;Utilisateur :</translation>
    </message>
    <message>
        <source>&amp;Password:</source>
        <translation>&amp;Mot de passe :</translation>
    </message>
    <message>
        <source>Sign &amp;in</source>
        <translation>Se &amp;connecter</translation>
    </message>
</context>
</TS>
